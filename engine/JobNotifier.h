#pragma once

namespace rw {

struct FlashJob;

// The window's private notification numbers, each carried by one method below
// (WM_SOUND_CHANGED is the window's own, posted to itself).
constexpr unsigned WM_FLASH_STATUS = 0x8000;   // sendFlashStatus
constexpr unsigned WM_FLASH_CRC = 0x8001;      // sendFlashCrc
constexpr unsigned WM_SOUND_CHANGED = 0x8002;  // the window's sound-icon refresh
constexpr unsigned WM_FLASH_DONE = 0x8003;     // postFlashDone

// How the programming thread reports to the window. The two "send" calls return
// only once the window has the status text or the CRC, so the worker may then
// change statusText: a logged or final status and the CRC are handled while the
// worker waits; a plain progress line may be taken as a copy and handled later,
// in order with everything else, so the window never holds the worker up. The
// two "post" calls are queued and return at once. The window implements this
// interface; tests use a recorder.
class JobNotifier {
  public:
    virtual ~JobNotifier() = default;
    // ended = 1 when the job has ended with this line; logged = 1 when the line
    // goes to the log file and the status history.
    virtual void sendFlashStatus(FlashJob& job, int ended, int logged) = 0;
    // The image CRC-8, 0..255.
    virtual void sendFlashCrc(FlashJob& job, int crc) = 0;
    // failed = 1 when the device failed.
    virtual void postFlashDone(int failed) = 0;
    // The quit request of command-line mode; exitCode becomes the program's.
    virtual void postQuit(int exitCode) = 0;
};

}  // namespace rw
