#pragma once
#include <QString>
#include <string>

#include "link/SerialPortPaths.h"

namespace rw {

// The main window's settings in the group "Info", read when the window is built
// and written only by its close command.
struct MainSettings {
    int driver = 1;  // link kind 1..3; a stored value outside counts as 1
    int baudRate = 9600;
    int address = 101;
    QString file = QStringLiteral("4255.hex");
    QString ip = QStringLiteral("192.168.0.100:3001");
    int device = 0;         // model row; a stored value outside 0..rows-1 counts as 0
    int port = 0;           // COM list index
    int stallSeconds = 60;  // command-line stall limit; 0 = none
    // The production record file; empty: Production.jsonl in the data folder; "-": none.
    QString recordFile;

    // The production record's path: RecordFile, else Production.jsonl in `dataFolder`.
    std::string recordPath(const std::string& dataFolder) const;
    // The group "Ports": COMN=/dev/... for COM port number N; empty: no entry.
    ComPortPaths ports;

    // The stored values, or the defaults above for the keys not stored.
    static MainSettings read(int modelRows);
    // Writes IP, File, Sounds, Device, Port, Driver, Address and BaudRate, in
    // that order (StallSeconds and RecordFile are only read), then the given ports' entries.
    void write(const QString& soundScheme, const ComPortPaths& portEntries) const;
};

}  // namespace rw
