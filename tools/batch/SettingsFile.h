#pragma once
#include <map>
#include <optional>
#include <string>

#include "link/SerialPortPaths.h"

namespace rw {

// The window's settings file read without Qt: an INI file as its settings
// store writes it ("[Group]" lines, "Key=value" lines; values that need it are
// quoted and backslash-escaped, keys percent-escaped, a leading '@' doubled).
class SettingsFile {
  public:
    // A file that does not exist or cannot be read reads as empty.
    static SettingsFile load(const std::string& path);
    static SettingsFile parse(const std::string& text);

    // The value of Group/Key, unescaped; nothing when the file has no such key.
    std::optional<std::string> value(const std::string& group, const std::string& key) const;

  private:
    std::map<std::string, std::string> values_;  // by "Group/Key"
};

// $XDG_CONFIG_HOME/KVT Controls/romwright.conf (XDG_CONFIG_HOME defaulting to ~/.config).
std::string windowSettingsPath();
// $XDG_DATA_HOME/KVT/Romwright/ (XDG_DATA_HOME defaulting to ~/.local/share).
std::string windowDataFolder();

// What the batch takes from the window's settings.
struct BatchSettings {
    ComPortPaths ports;      // [Ports] COMN; empty: no entry
    int stallSeconds = 60;   // [Info] StallSeconds; 0: no limit
    std::string recordFile;  // [Info] RecordFile; empty: Production.jsonl in the data folder
};
BatchSettings readBatchSettings(const SettingsFile& file);

}  // namespace rw
