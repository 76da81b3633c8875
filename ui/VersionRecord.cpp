#include "ui/VersionRecord.h"

#include <QFile>

namespace rw {

QString VersionRecord::compiledPath() {
    return QStringLiteral(":/version/romwright.ver");
}

std::optional<VersionRecord> VersionRecord::load(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (bytes.isEmpty()) return std::nullopt;
    return parse(QString::fromUtf8(bytes));
}

VersionRecord VersionRecord::parse(const QString& text) {
    VersionRecord record;
    QString block;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (QString line : lines) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            block = line.mid(1, line.size() - 2);
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0) continue;
        QString path = QStringLiteral("\\");
        if (!block.isEmpty()) path += block + QLatin1Char('\\');
        record.values_.insert(path + line.left(equals), line.mid(equals + 1));
    }
    return record;
}

std::optional<QString> VersionRecord::query(const QString& blockPath) const {
    auto it = values_.constFind(blockPath);
    if (it == values_.constEnd()) return std::nullopt;
    return *it;
}

}  // namespace rw
