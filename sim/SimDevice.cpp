#include "sim/SimDevice.h"

#include <algorithm>
#include <cstdio>

#include "sim/Crc8Maxim.h"
#include "sim/SplitMix64.h"

namespace rw::sim {

static std::string format(const char* fmt, unsigned a, unsigned b = 0, unsigned c = 0) {
    char text[128];
    std::snprintf(text, sizeof text, fmt, a, b, c);
    return text;
}

SimDevice::SimDevice(uint16_t address, const SimModel& model, const DeviceSettings& settings)
    : address_(address), model_(model), settings_(settings), oldFirmware_(model.regionSize()) {
    SplitMix64 random(settings.firmwareSeed);
    for (uint8_t& byte : oldFirmware_) byte = static_cast<uint8_t>(random.next() >> 56);
    region_ = oldFirmware_;
}

SimDevice::Response SimDevice::handle(const Request& request, int64_t nowMs) {
    ++requests_;
    if (request.bytes == lastRequest_) ++repeats_;
    lastRequest_ = request.bytes;
    if (erasing(nowMs)) return {true, {}, "silent (erasing)"};

    switch (request.command()) {
        case CMD_MODE:
            return {false, buildShortReply(request),
                    format("mode param %u ", request.payload()[1]) +
                        (request.payload()[2] ? "on" : "off")};
        case CMD_PERMISSION:
            return permission(request);
        case CMD_FLASH_INIT:
            return flashInit(request, nowMs);
        case CMD_FLASH_WRITE:
            return flashWrite(request);
        case CMD_FLASH_VERIFY:
            return flashVerify(request);
        default:
            return {false, buildFullReply(request, kStatusUnknownCommand),
                    format("unknown command %02X refused", request.command())};
    }
}

uint8_t SimDevice::checkModelCode(const Request& request) const {
    const unsigned code = unsigned{request.payload()[0]} << 8 | request.payload()[1];
    return code == model_.code ? kStatusOk : kStatusWrongModel;
}

SimDevice::Response SimDevice::permission(const Request& request) {
    uint8_t status = checkModelCode(request);
    if (status == kStatusOk && settings_.refusePermission) status = kStatusPermissionRefused;
    return {false, buildFullReply(request, status), format("permission status %u", status)};
}

SimDevice::Response SimDevice::flashInit(const Request& request, int64_t nowMs) {
    uint8_t status = checkModelCode(request);
    if (status != kStatusOk) {
        return {false, buildFullReply(request, status), format("init refused status %u", status)};
    }
    std::fill(region_.begin(), region_.end(), 0xFF);
    silentUntilMs_ = nowMs + settings_.eraseMs;
    verify_ = Verify::None;
    // The acknowledge goes out before the erase makes the device deaf.
    return {false, buildFullReply(request, kStatusOk),
            format("init: erased, silent for %u ms", static_cast<unsigned>(settings_.eraseMs))};
}

SimDevice::Response SimDevice::flashWrite(const Request& request) {
    const uint8_t* p = request.payload();
    uint32_t address = static_cast<uint32_t>(p[0] << 16 | p[1] << 8 | p[2]);
    uint32_t count = static_cast<uint32_t>(p[3] << 8 | p[4]);
    std::string where = format("write %06X n=%u", address, count);
    if (address < model_.regionStart() || address > model_.regionEnd() ||
        count > model_.regionEnd() - address) {
        return {false, buildFullReply(request, kStatusOutsideRegion),
                where + " refused: outside the region"};
    }
    uint8_t* cell = region_.data() + (address - model_.regionStart());
    for (uint32_t i = 0; i < count; ++i) cell[i] &= p[5 + i];
    ++blocks_;
    if (settings_.resetAfterBlocks > 0 && !resetDone_ &&
        blocks_ == static_cast<uint64_t>(settings_.resetAfterBlocks)) {
        forgetErase();
        where += " (then reset: erase forgotten)";
    }
    return {false, buildFullReply(request, kStatusOk), where};
}

void SimDevice::forgetErase() {
    resetDone_ = true;
    region_ = oldFirmware_;
}

SimDevice::Response SimDevice::flashVerify(const Request& request) {
    uint8_t expected = request.payload()[0];
    uint8_t crc = crc8Maxim(region_.data(), region_.size() - 1);
    uint8_t stored = region_.back();
    uint8_t status = kStatusOk;
    if (crc != expected || stored != expected) status = kStatusVerifyMismatch;
    if (settings_.refuseVerify) status = kStatusVerifyRefused;
    verify_ = status == kStatusOk ? Verify::Passed : Verify::Failed;
    return {false, buildFullReply(request, status),
            format("verify crc %02X: region %02X, stored %02X", expected, crc, stored) +
                (status == kStatusOk ? " passed" : " refused")};
}

}  // namespace rw::sim
