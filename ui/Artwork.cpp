#include "ui/Artwork.h"

#include <QtGlobal>
#include <mutex>

// Q_INIT_RESOURCE must be used outside any namespace.
static void registerArtworkResources() {
    Q_INIT_RESOURCE(artwork);
}

void initArtwork() {
    static std::once_flag once;
    std::call_once(once, registerArtworkResources);
}

QString bitmapPath(int id) {
    return QStringLiteral(":/bitmaps/%1.png").arg(id);
}

QString iconPath(int id) {
    return QStringLiteral(":/icons/%1.png").arg(id);
}
