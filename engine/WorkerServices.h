#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace rw {

class Clock;
class SoundPlayer;
class Transport;
struct FlashJob;

// The mode request's reply wait, which every later request of the job keeps.
constexpr int kModeReplyTimeoutMs = 3000;

// What a programming thread needs besides the job record. The window fills one
// per program; tests and headless programs fill their own, one per job if they
// like. Every field has a working default.
struct WorkerServices {
    SoundPlayer* sound = nullptr;  // null: no sounds at all
    Clock* clock = nullptr;        // pauses, erase wait, back-off; null: the system clock
    int modeReplyTimeoutMs = kModeReplyTimeoutMs;
    // The device path of COM port N; empty: /dev/ttyS<N-1>.
    std::function<std::string(int portNumber)> serialPortPath;
    // The request sequence this job's requests advance; null: the process-wide one.
    std::atomic<uint8_t>* requestSequence = nullptr;
    // Creates the link for the job's linkKind; empty: the real links.
    std::function<std::unique_ptr<Transport>(FlashJob&)> makeLink;

    Clock& clockToUse() const;
};

}  // namespace rw
