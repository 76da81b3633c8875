#include "link/SerialPortPaths.h"

#include <algorithm>

namespace rw {

std::string defaultSerialDevicePath(int portNumber) {
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

std::vector<ComPort> mapComPorts(const ComPortPaths& given,
                                 const std::vector<SerialDevice>& present) {
    const auto isDevice = [](const std::string& path, const SerialDevice& device) {
        return path == device.path || path == "/dev/" + device.name;
    };
    const auto nameOf = [&](const std::string& path) {
        for (const SerialDevice& device : present) {
            if (isDevice(path, device)) return device.name;
        }
        return path.substr(path.find_last_of('/') + 1);
    };
    const auto isGiven = [&](const SerialDevice& device) {
        return std::any_of(given.begin(), given.end(),
                           [&](const std::string& path) { return isDevice(path, device); });
    };
    std::vector<ComPort> ports(kComPortCount);
    auto next = present.begin();
    for (size_t i = 0; i < ports.size(); ++i) {
        if (!given[i].empty()) {
            ports[i] = {given[i], nameOf(given[i]), true};
            continue;
        }
        next = std::find_if_not(next, present.end(), isGiven);
        if (next != present.end()) {
            ports[i] = {next->path, next->name, true};
            ++next;
            continue;
        }
        const std::string path = defaultSerialDevicePath(static_cast<int>(i) + 1);
        ports[i] = {path, nameOf(path), false};
    }
    return ports;
}

}  // namespace rw
