#include "sim/SimController.h"

#include <cstdio>
#include <fstream>

namespace rw::sim {

SimController::SimController(const SimConfig& config) : config_(config), faults_(config.faults) {
    for (uint16_t address : config.addresses) {
        if (find(address) != nullptr) continue;
        DeviceSettings settings = config.device;
        // Old firmware differs per device but repeats with the seed.
        SplitMix64 mix(config.faults.seed ^ (0x5157ULL << 32) ^ address);
        settings.firmwareSeed = mix.next();
        for (uint16_t refusing : config.refusePermissionFor) {
            if (refusing == address) settings.refusePermission = true;
        }
        devices_.push_back(std::make_unique<SimDevice>(address, *config.model, settings));
    }
}

SimDevice* SimController::find(uint16_t address) {
    for (auto& device : devices_) {
        if (device->address() == address) return device.get();
    }
    return nullptr;
}

const SimDevice* SimController::device(uint16_t address) const {
    return const_cast<SimController*>(this)->find(address);
}

std::unique_ptr<ReplyPlan> SimController::onRequest(const Request& request, int64_t nowMs) {
    SimDevice* target = find(request.destination());
    if (target == nullptr) return nullptr;
    auto plan = std::make_unique<ReplyPlan>();
    plan->number = ++requests_;
    ReplyFaults faults = faults_.draw(plan->number);
    SimDevice::Response response = target->handle(request, nowMs);
    plan->bytes = std::move(response.reply);

    char head[64];
    std::snprintf(head, sizeof head,
                  "#%llu dev %u seq %02X cmd %02X: ", static_cast<unsigned long long>(plan->number),
                  target->address(), request.sourceLow(), request.command());
    plan->trace = head + response.note;

    bool acceptedBlock = request.command() == CMD_FLASH_WRITE && plan->bytes.size() == 9 &&
                         plan->bytes[7] == kStatusOk;
    if (acceptedBlock && config_.closeAfterBlocks > 0 && !closed_ &&
        ++blocksAnswered_ == static_cast<uint64_t>(config_.closeAfterBlocks)) {
        closed_ = true;
        plan->closeAfter = true;
        plan->trace += " [close]";
    }
    if (!plan->bytes.empty()) applyFaults(faults, *plan);
    return plan;
}

void SimController::applyFaults(const ReplyFaults& faults, ReplyPlan& plan) const {
    std::vector<uint8_t>& reply = plan.bytes;
    if (faults.stale) {
        // The sequence value before this one: what a device answering an
        // earlier request would echo.
        uint8_t seq = reply[2];
        reply[2] = static_cast<uint8_t>((seq & ~3u) | ((seq - 1u) & 3u));
        reply.back() = frameSum(reply.data(), reply.size() - 1);
        plan.trace += " [stale]";
    }
    if (faults.corrupt) {
        reply.back() ^= 0xFF;
        plan.trace += " [corrupt]";
    }
    if (faults.drop) {
        reply.clear();
        plan.trace += " [drop]";
    }
}

bool SimController::allVerified() const {
    for (const auto& device : devices_) {
        if (device->verifyResult() != SimDevice::Verify::Passed) return false;
    }
    return !devices_.empty();
}

uint64_t SimController::repeats() const {
    uint64_t total = 0;
    for (const auto& device : devices_) total += device->repeats();
    return total;
}

bool SimController::dumpRegions(const std::string& dir, std::string& error) const {
    for (const auto& device : devices_) {
        std::string path = dir + "/" + std::to_string(device->address()) + ".bin";
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        const std::vector<uint8_t>& region = device->region();
        out.write(reinterpret_cast<const char*>(region.data()),
                  static_cast<std::streamsize>(region.size()));
        out.close();
        if (!out) {
            error = "cannot write " + path;
            return false;
        }
    }
    return true;
}

static const char* verifyText(SimDevice::Verify verify) {
    switch (verify) {
        case SimDevice::Verify::Passed:
            return "verify passed";
        case SimDevice::Verify::Failed:
            return "verify failed";
        default:
            return "not verified";
    }
}

std::string SimController::summary() const {
    std::string text = "requests: " + std::to_string(requests_) + "\n";
    text += "repeated requests: " + std::to_string(repeats()) + "\n";
    for (const auto& device : devices_) {
        char line[160];
        std::snprintf(line, sizeof line, "device %u (%s): %llu requests, %llu repeated, %s\n",
                      device->address(), device->model().name.c_str(),
                      static_cast<unsigned long long>(device->requests()),
                      static_cast<unsigned long long>(device->repeats()),
                      verifyText(device->verifyResult()));
        text += line;
    }
    return text;
}

}  // namespace rw::sim
