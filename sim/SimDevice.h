#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "sim/SimFrame.h"
#include "sim/SimModel.h"

namespace rw::sim {

// Status bytes of the full reply. 0 accepts; each refusal has its own value
// so a trace shows why the device said no.
constexpr uint8_t kStatusOk = 0x00;
constexpr uint8_t kStatusWrongModel = 0x01;
constexpr uint8_t kStatusPermissionRefused = 0x02;
constexpr uint8_t kStatusOutsideRegion = 0x03;
constexpr uint8_t kStatusVerifyMismatch = 0x04;
constexpr uint8_t kStatusVerifyRefused = 0x05;
constexpr uint8_t kStatusUnknownCommand = 0xFF;

// Behaviour switches of one device.
struct DeviceSettings {
    int eraseMs = 0;                // silence after a flash initialise
    bool refusePermission = false;  // every permission request is refused
    bool refuseVerify = false;      // every CRC confirm is refused
    int resetAfterBlocks = 0;       // forget the erase after this many writes (0 = never)
    uint64_t firmwareSeed = 0;      // content of the "old firmware" before the first erase
};

// One simulated field controller with its flash region. It behaves like NOR
// flash: an initialise erases the whole region to 0xFF and keeps the device
// deaf for a while; a write can only clear bits.
class SimDevice {
  public:
    enum class Verify { None, Passed, Failed };

    struct Response {
        bool silent = false;         // no reply at all (erasing)
        std::vector<uint8_t> reply;  // the reply frame, before any fault
        std::string note;            // what happened, for the trace
    };

    SimDevice(uint16_t address, const SimModel& model, const DeviceSettings& settings);

    // Handles one request addressed to this device, received at nowMs.
    Response handle(const Request& request, int64_t nowMs);

    uint16_t address() const { return address_; }
    const SimModel& model() const { return model_; }
    const std::vector<uint8_t>& region() const { return region_; }
    bool erasing(int64_t nowMs) const { return nowMs < silentUntilMs_; }
    Verify verifyResult() const { return verify_; }
    uint64_t requests() const { return requests_; }
    uint64_t repeats() const { return repeats_; }

  private:
    uint8_t checkModelCode(const Request& request) const;
    Response permission(const Request& request);
    Response flashInit(const Request& request, int64_t nowMs);
    Response flashWrite(const Request& request);
    Response flashVerify(const Request& request);
    void forgetErase();

    uint16_t address_;
    SimModel model_;
    DeviceSettings settings_;
    std::vector<uint8_t> oldFirmware_;
    std::vector<uint8_t> region_;
    int64_t silentUntilMs_ = INT64_MIN;
    bool resetDone_ = false;
    Verify verify_ = Verify::None;
    std::vector<uint8_t> lastRequest_;
    uint64_t requests_ = 0;
    uint64_t repeats_ = 0;
    uint64_t blocks_ = 0;
};

}  // namespace rw::sim
