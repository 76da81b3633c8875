#include "ui/Artwork.h"

#include <QFile>
#include <QtGlobal>
#include <mutex>

// Q_INIT_RESOURCE must be used outside any namespace.
static void registerArtworkResources() {
    Q_INIT_RESOURCE(artwork);
}

namespace rw {

void initArtwork() {
    static std::once_flag once;
    std::call_once(once, registerArtworkResources);
}

QString bitmapPath(int id) {
    return QStringLiteral(":/bitmaps/%1.png").arg(id);
}

QString resourceString(int id) {
    QFile file(QStringLiteral(":/strings/%1").arg(id));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll());
}

}  // namespace rw
