#include "ui/SiblingNotice.h"

#include <QLocalSocket>

namespace rw {

namespace {
constexpr int kConnectWaitMs = 200;
}  // namespace

QString siblingServerName() {
    return QStringLiteral("KVTConsoleAppClass");
}

bool notifySibling(const QString& serverName) {
    if (serverName.isEmpty()) return false;
    QLocalSocket socket;
    socket.connectToServer(serverName);
    if (!socket.waitForConnected(kConnectWaitMs)) return false;
    socket.write("32768 1 0\n");
    const bool sent = socket.waitForBytesWritten(kConnectWaitMs) || socket.bytesToWrite() == 0;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(kConnectWaitMs);
    return sent;
}

}  // namespace rw
