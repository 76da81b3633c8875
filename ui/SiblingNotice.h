#pragma once
#include <QString>

namespace rw {

// Tells the sibling monitoring application, when one listens on the local socket
// `serverName`, that this program's window is going away: one line "32768 1 0".
// Its absence is normal; nothing is reported. Returns whether the line was sent.
bool notifySibling(const QString& serverName);

// The sibling application's well-known server name.
QString siblingServerName();

}  // namespace rw
