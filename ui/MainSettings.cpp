#include "ui/MainSettings.h"

#include <QSettings>

#include "base/Codes.h"
#include "ui/AppSettings.h"

namespace rw {

namespace {
// The key of the COM port at list index i: "Ports/COM<i+1>".
QString portKey(size_t i) {
    return QStringLiteral("Ports/COM%1").arg(i + 1);
}
}  // namespace

MainSettings MainSettings::read(int modelRows) {
    MainSettings s;
    auto store = openSettings();
    store->beginGroup(QStringLiteral("Info"));
    s.driver = store->value(QStringLiteral("Driver"), s.driver).toInt();
    // The window only ever stores 1..3; anything else counts as serial.
    if (s.driver < LINK_SERIAL || s.driver > LINK_UDP) s.driver = LINK_SERIAL;
    s.baudRate = store->value(QStringLiteral("BaudRate"), s.baudRate).toInt();
    s.address = store->value(QStringLiteral("Address"), s.address).toInt();
    s.file = store->value(QStringLiteral("File"), s.file).toString();
    s.ip = store->value(QStringLiteral("IP"), s.ip).toString();
    s.device = store->value(QStringLiteral("Device"), s.device).toInt();
    if (s.device < 0 || s.device >= modelRows) s.device = 0;
    s.port = store->value(QStringLiteral("Port"), s.port).toInt();
    // A hand-edited value that is not a number keeps the limit: read as 0 it
    // would silently turn the safety limit off.
    bool stallRead = false;
    const int stall = store->value(QStringLiteral("StallSeconds")).toInt(&stallRead);
    if (stallRead) s.stallSeconds = stall;
    s.recordFile = store->value(QStringLiteral("RecordFile")).toString();
    store->endGroup();
    for (size_t i = 0; i < s.ports.size(); ++i) {
        s.ports[i] = store->value(portKey(i)).toString().toStdString();
    }
    return s;
}

void MainSettings::write(const QString& soundScheme, const ComPortPaths& portEntries) const {
    auto store = openSettings();
    store->beginGroup(QStringLiteral("Info"));
    store->setValue(QStringLiteral("IP"), ip);
    store->setValue(QStringLiteral("File"), file);
    store->setValue(QStringLiteral("Sounds"), soundScheme);
    store->setValue(QStringLiteral("Device"), device);
    store->setValue(QStringLiteral("Port"), port);
    store->setValue(QStringLiteral("Driver"), driver);
    store->setValue(QStringLiteral("Address"), address);
    store->setValue(QStringLiteral("BaudRate"), baudRate);
    store->endGroup();
    for (size_t i = 0; i < portEntries.size(); ++i) {
        if (!portEntries[i].empty()) {
            store->setValue(portKey(i), QString::fromStdString(portEntries[i]));
        }
    }
    store->sync();
}

std::string MainSettings::recordPath(const std::string& dataFolder) const {
    if (recordFile.isEmpty()) return dataFolder + "Production.jsonl";
    return recordFile.toLocal8Bit().toStdString();
}

}  // namespace rw
