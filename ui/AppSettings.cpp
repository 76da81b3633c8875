#include "ui/AppSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace rw {

std::unique_ptr<QSettings> openSettings() {
    return std::make_unique<QSettings>(QStringLiteral("KVT Controls"),
                                       QCoreApplication::applicationName());
}

QString defaultDataFolder() {
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + "/.local/share";
    return QDir::cleanPath(base) + QStringLiteral("/KVT/Romwright/");
}

namespace {
// The bundled schemes: every WAV under ":/sounds", grouped by its own folder.
void copyBundledSounds(const QString& soundsFolder) {
    QDirIterator it(QStringLiteral(":/sounds"), {QStringLiteral("*.wav")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo source(it.next());
        const QString scheme = source.dir().dirName();
        const QString targetFolder = soundsFolder + QLatin1Char('/') + scheme;
        QDir().mkpath(targetFolder);
        const QString target = targetFolder + QLatin1Char('/') + source.fileName();
        if (QFile::copy(source.filePath(), target)) {
            QFile::setPermissions(
                target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
        }
    }
}
}  // namespace

bool prepareDataFolder(const QString& folder) {
    if (!QDir().mkpath(folder)) return false;
    const QString sounds = folder + QStringLiteral("Sounds");
    if (!QFileInfo::exists(sounds)) copyBundledSounds(sounds);
    return true;
}

}  // namespace rw
