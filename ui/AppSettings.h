#pragma once
#include <QString>
#include <memory>

class QSettings;

namespace rw {

// The per-user settings store: company "KVT Controls", named after the running
// program (the executable's base name; tests set their own application name).
// Every setting of the window lies in the group "Info"; the serial device path
// of each COM port number N in "Ports/COMN".
std::unique_ptr<QSettings> openSettings();

// The data folder: $XDG_DATA_HOME/KVT/Romwright/ (XDG_DATA_HOME defaulting to
// ~/.local/share), always ending in '/'.
QString defaultDataFolder();

// Creates folder when missing and, when it holds no "Sounds" folder yet, copies
// the sound schemes bundled with the program into it. False when the folder
// cannot be created.
bool prepareDataFolder(const QString& folder);

}  // namespace rw
