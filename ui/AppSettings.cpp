#include "ui/AppSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <array>

#include "link/SerialPortPaths.h"

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

void installSerialPortSettings() {
    std::array<std::string, 8> paths;
    auto settings = openSettings();
    for (int n = 1; n <= 8; ++n) {
        const QString fallback = QStringLiteral("/dev/ttyS%1").arg(n - 1);
        paths[n - 1] = settings->value(QStringLiteral("Ports/COM%1").arg(n), fallback)
                           .toString()
                           .toStdString();
    }
    rw::setSerialPortResolver([paths](int portNumber) -> std::string {
        if (portNumber >= 1 && portNumber <= 8) return paths[portNumber - 1];
        return "/dev/ttyS" + std::to_string(portNumber - 1);
    });
}
