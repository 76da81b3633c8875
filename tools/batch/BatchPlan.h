#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/DeviceModel.h"
#include "link/SerialPortPaths.h"

namespace rw {

// One bus of a plan: every device on it is programmed one after another.
struct PlanLink {
    int kind = 0;      // LINK_TCP, LINK_UDP or LINK_SERIAL
    std::string name;  // as links name themselves: "TCP host:port", "COM3", "/dev/ttyUSB0"
    // What makes two plan lines the same bus: the resolved host and port, or
    // the serial device's real path (two spellings of one device are one link).
    std::string key;
    std::string host;             // network links: as first written
    int port = 0;                 // network links
    int comNumber = 0;            // serial links given as COMn; 0: opened by path
    std::vector<size_t> devices;  // indexes into Plan::devices, in plan order
};

// One device: one line of the plan.
struct PlanDevice {
    int line = 0;
    size_t link = 0;  // index into Plan::links
    uint16_t address = 0;
    int modelRow = 0;
    std::string file;        // absolute
    int baudRate = 0;        // serial links: the rate of this line
    std::string devicePath;  // serial links: the device as this line names it
};

struct Plan {
    std::string path;
    std::vector<PlanLink> links;  // in order of first appearance
    std::vector<PlanDevice> devices;
};

// What the command line and the settings add to a plan.
struct PlanDefaults {
    std::string model;      // for lines without a model; empty: none
    std::string file;       // for lines without a file; relative to the working folder
    ComPortPaths comPorts;  // the device of COM1..COM8
};

// Reads a plan: one device per line, "LINK ADDRESS [MODEL] [FILE]", blank
// lines and '#' comments ignored, a field with blanks in double quotes. LINK is
// tcp:HOST:PORT, udp:HOST:PORT or serial:DEVICE@RATE (DEVICE a path or COM1 to
// COM8). A FILE relative to the plan's folder. Every (file, model) pair is
// loaded once here, so a plan that would fail on a file fails before any
// device is touched. On a fault: nothing, and `error` is "PLAN:LINE: reason".
std::optional<Plan> readPlan(const std::string& path, const PlanDefaults& defaults,
                             const ModelTable& models, std::string& error);
std::optional<Plan> parsePlan(const std::string& text, const std::string& path,
                              const PlanDefaults& defaults, const ModelTable& models,
                              std::string& error);

}  // namespace rw
