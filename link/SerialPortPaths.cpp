#include "link/SerialPortPaths.h"

#include <mutex>
#include <utility>

namespace rw {
namespace {

std::mutex resolverMutex;
SerialPortResolver installedResolver;

std::string defaultDevicePath(int portNumber) {
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

}  // namespace

std::string serialDevicePath(int portNumber) {
    SerialPortResolver resolver;
    {
        std::lock_guard<std::mutex> lock(resolverMutex);
        resolver = installedResolver;
    }
    // Called outside the lock: a resolver may read settings or install another.
    return resolver ? resolver(portNumber) : defaultDevicePath(portNumber);
}

void setSerialPortResolver(SerialPortResolver resolver) {
    std::lock_guard<std::mutex> lock(resolverMutex);
    installedResolver = std::move(resolver);
}

}  // namespace rw
