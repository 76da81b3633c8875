#include "link/SerialPortDiscovery.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <set>
#include <string_view>
#include <system_error>

namespace rw {

namespace {

namespace fs = std::filesystem;

bool isDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// Where the number at the end of a kernel name starts ("ttyUSB12" -> 6).
size_t numberStart(const std::string& name) {
    size_t start = name.size();
    while (start > 0 && isDigit(name[start - 1])) --start;
    return start;
}

// Kernel names as a person orders them: by the letters, then by the number.
bool byNameAndNumber(const std::string& a, const std::string& b) {
    const size_t aNumber = numberStart(a);
    const size_t bNumber = numberStart(b);
    const std::string_view aLetters(a.data(), aNumber);
    const std::string_view bLetters(b.data(), bNumber);
    if (aLetters != bLetters) return aLetters < bLetters;
    // Without leading zeros the shorter number is the smaller one.
    if (a.size() - aNumber != b.size() - bNumber) return a.size() - aNumber < b.size() - bNumber;
    return a < b;
}

bool isBuiltInUartPort(const std::string& name) {
    return name.size() > 4 && name.compare(0, 4, "ttyS") == 0 &&
           std::all_of(name.begin() + 4, name.end(), isDigit);
}

// The UART type comes from sysfs rather than from the port itself (TIOCGSERIAL):
// asking the port would mean opening every one of them, and a file can stand in
// for it in a fake tree.
bool uartFitted(const fs::path& ttyFolder) {
    std::ifstream in(ttyFolder / "type");
    int type = 0;
    return static_cast<bool>(in >> type) && type != 0;
}

std::set<std::string> presentNames(const fs::path& root) {
    std::set<std::string> names;
    std::error_code listing;
    for (fs::directory_iterator it(root / "sys/class/tty", listing), end; !listing && it != end;
         it.increment(listing)) {
        const std::string name = it->path().filename().string();
        std::error_code probing;
        if (!fs::exists(it->path() / "device", probing)) continue;
        if (isBuiltInUartPort(name) && !uartFitted(it->path())) continue;
        names.insert(name);
    }
    return names;
}

std::vector<std::string> sortedEntries(const fs::path& folder) {
    std::vector<std::string> entries;
    std::error_code listing;
    for (fs::directory_iterator it(folder, listing), end; !listing && it != end;
         it.increment(listing)) {
        entries.push_back(it->path().filename().string());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

}  // namespace

std::vector<SerialDevice> discoverSerialDevices(const fs::path& root) {
    const std::set<std::string> present = presentNames(root);
    std::vector<SerialDevice> devices;
    std::set<std::string> listed;
    const fs::path byId = root / "dev/serial/by-id";
    for (const std::string& entry : sortedEntries(byId)) {
        // udev's link points at the kernel's device ("../../ttyUSB0").
        std::error_code reading;
        const fs::path target = fs::read_symlink(byId / entry, reading);
        const std::string name = reading ? entry : target.filename().string();
        if (present.count(name) == 0 || !listed.insert(name).second) continue;
        devices.push_back({"/dev/serial/by-id/" + entry, name});
    }
    std::vector<std::string> others;
    for (const std::string& name : present) {
        if (listed.count(name) == 0) others.push_back(name);
    }
    std::sort(others.begin(), others.end(), byNameAndNumber);
    for (const std::string& name : others) devices.push_back({"/dev/" + name, name});
    return devices;
}

}  // namespace rw
