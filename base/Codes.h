#pragma once
// Result codes and link kinds, shared by the links, the engine and everything
// above them.

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

}  // namespace rw
