#pragma once
// Result codes, link kinds and notification numbers shared by the engine, the
// links and the window.
#include <cstdint>

namespace rw {

// Operations of the link and protocol layers return 0 or one of these.
constexpr int LINK_OK = 0;
constexpr int LINK_FAIL = -101;
constexpr int LINK_TIMEOUT = -102;
constexpr int LINK_DEVICE_REFUSED = -103;
constexpr int LINK_SHORT_WRITE = -104;
constexpr int LINK_SHORT_READ = -105;
constexpr int LINK_BAD_CHECKSUM = -106;

// Link kinds, as stored in the setting `Driver`, the job record and each link.
constexpr int LINK_SERIAL = 1;
constexpr int LINK_TCP = 2;
constexpr int LINK_UDP = 3;

// Notification numbers (the window's private message values).
constexpr unsigned WM_FLASH_STATUS = 0x8000;
constexpr unsigned WM_FLASH_CRC = 0x8001;
constexpr unsigned WM_SOUND_CHANGED = 0x8002;
constexpr unsigned WM_FLASH_DONE = 0x8003;

// Frame buffer size of the job record; the longest request is 141 bytes.
constexpr int FRAME_BUFFER_SIZE = 512;

}  // namespace rw
