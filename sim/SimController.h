#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/FaultPlan.h"
#include "sim/SimDevice.h"

namespace rw::sim {

// Everything the simulated link carries: its devices and the faults.
struct SimConfig {
    const SimModel* model = nullptr;
    std::vector<uint16_t> addresses;
    DeviceSettings device;  // firmwareSeed is derived per address from faults.seed
    std::vector<uint16_t> refusePermissionFor;  // devices that refuse permission
    FaultSettings faults;
    int closeAfterBlocks = 0;  // 0 = never
};

// The reply to one request, with its faults applied.
struct ReplyPlan {
    uint64_t number = 0;         // request number, from 1
    std::vector<uint8_t> bytes;  // empty: the device stays silent
    bool closeAfter = false;     // the connection is closed once this reply is out
    std::string trace;           // one line for --verbose
};

// The devices on one link, the request numbering and the fault plan. Pure
// logic: the caller supplies the time and moves the bytes.
class SimController {
  public:
    explicit SimController(const SimConfig& config);

    // A request for one of our devices (others are ignored: result null).
    std::unique_ptr<ReplyPlan> onRequest(const Request& request, int64_t nowMs);

    const SimDevice* device(uint16_t address) const;
    const std::vector<std::unique_ptr<SimDevice>>& devices() const { return devices_; }
    bool allVerified() const;
    uint64_t requests() const { return requests_; }
    uint64_t repeats() const;

    // Writes every region to dir/<address>.bin; false with a reason in `error` on failure.
    bool dumpRegions(const std::string& dir, std::string& error) const;
    std::string summary() const;

  private:
    SimDevice* find(uint16_t address);
    void applyFaults(const ReplyFaults& faults, ReplyPlan& plan) const;

    SimConfig config_;
    std::vector<std::unique_ptr<SimDevice>> devices_;
    FaultPlan faults_;
    uint64_t requests_ = 0;
    uint64_t blocksAnswered_ = 0;
    bool closed_ = false;
};

}  // namespace rw::sim
