#include "sim/SimServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>

namespace rw::sim {

volatile std::sig_atomic_t SimServer::stopRequested = 0;

namespace {

constexpr int64_t kNsPerMs = 1000000;
// A partial frame older than this is dropped, as a controller's receiver
// resets after a pause in the middle of a frame.
constexpr int64_t kStalePartialNs = 500 * kNsPerMs;
// With --exit-after-verify: how long the link must stay quiet after the last
// verify before the simulator ends, so the programmer's closing mode-off
// request still gets its acknowledge.
constexpr int64_t kExitQuietNs = 500 * kNsPerMs;
// Upper bound of one wait, so nothing depends on a single wake-up.
constexpr int64_t kMaxWaitNs = 1000 * kNsPerMs;

int64_t steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool resolveIpv4(const std::string& host, in_addr& address) {
    if (::inet_pton(AF_INET, host.c_str(), &address) == 1) return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
    address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return true;
}

void makeRaw(int fd) {
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) return;
    ::cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &settings);
}

}  // namespace

SimServer::SimServer(const SimOptions& options, SimController& controller)
    : options_(options), controller_(controller), queue_(options.timing) {}

SimServer::~SimServer() {
    closeFd(clientFd_);
    closeFd(listenFd_);
    closeFd(udpFd_);
    closeFd(inotifyFd_);
    closeFd(slaveFd_);
    closeFd(masterFd_);
    if (ptyLinkMade_) {
        std::error_code ec;
        std::filesystem::remove(options_.ptyLink, ec);
    }
}

bool SimServer::open(FILE* out, std::string& error) {
    bool ok = false;
    switch (options_.link) {
        case LinkKind::Tcp:
            ok = openTcp(error);
            break;
        case LinkKind::Udp:
            ok = openUdp(error);
            break;
        case LinkKind::Pty:
            ok = openPty(error);
            break;
        default:
            error = "no link";
    }
    if (!ok) return false;
    if (options_.link == LinkKind::Pty) {
        std::fprintf(out, "%s\n", ptyPath_.c_str());
    } else {
        sockaddr_in bound{};
        socklen_t size = sizeof bound;
        ::getsockname(listenFd_ >= 0 ? listenFd_ : udpFd_, reinterpret_cast<sockaddr*>(&bound),
                      &size);
        char ip[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &bound.sin_addr, ip, sizeof ip);
        std::fprintf(out, "%s:%u\n", ip, ntohs(bound.sin_port));
    }
    std::fflush(out);
    lastActivityNs_ = steadyNs();
    return true;
}

bool SimServer::bindSocket(int type, std::string& error) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(options_.port));
    if (!resolveIpv4(options_.host, address.sin_addr)) {
        error = "cannot resolve " + options_.host;
        return false;
    }
    int fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    // The programmer's UDP link binds the same port on every local address;
    // Linux lets both bind only when both ask for address reuse.
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = "bind " + options_.host + ":" + std::to_string(options_.port) + ": " +
                std::strerror(errno);
        ::close(fd);
        return false;
    }
    (type == SOCK_STREAM ? listenFd_ : udpFd_) = fd;
    return true;
}

bool SimServer::openTcp(std::string& error) {
    if (!bindSocket(SOCK_STREAM, error)) return false;
    if (::listen(listenFd_, 4) != 0) {
        error = std::string("listen: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool SimServer::openUdp(std::string& error) {
    return bindSocket(SOCK_DGRAM, error);
}

bool SimServer::openPty(std::string& error) {
    masterFd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[256] = {};
    if (masterFd_ < 0 || ::grantpt(masterFd_) != 0 || ::unlockpt(masterFd_) != 0 ||
        ::ptsname_r(masterFd_, name, sizeof name) != 0) {
        error = std::string("pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    ptyPath_ = name;
    ::fcntl(masterFd_, F_SETFL, ::fcntl(masterFd_, F_GETFL) | O_NONBLOCK);
    slaveFd_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveFd_ < 0) {
        error = ptyPath_ + ": " + std::strerror(errno);
        return false;
    }
    makeRaw(slaveFd_);
    // The programmer opens its side exclusively (TIOCEXCL). That flag outlives
    // its close while we hold the pair, so every close it makes is watched
    // for, and the flag is cleared for the next job.
    inotifyFd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotifyFd_ < 0 ||
        ::inotify_add_watch(inotifyFd_, name, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        std::fprintf(stderr, "romwright-sim: cannot watch %s (%s); reopening may fail\n", name,
                     std::strerror(errno));
        closeFd(inotifyFd_);
    }
    if (!options_.ptyLink.empty()) {
        std::error_code ec;
        if (std::filesystem::is_symlink(options_.ptyLink, ec)) {
            std::filesystem::remove(options_.ptyLink, ec);
        }
        if (::symlink(name, options_.ptyLink.c_str()) != 0) {
            error = "symlink " + options_.ptyLink + ": " + std::strerror(errno);
            return false;
        }
        ptyLinkMade_ = true;
    }
    return true;
}

void SimServer::trace(const std::string& line) const {
    if (options_.verbose) std::fprintf(stderr, "%s\n", line.c_str());
}

void SimServer::serve(const sigset_t* waitMask) {
    while (stopRequested == 0) {
        int64_t nowNs = steadyNs();
        flushDue(nowNs);
        if (finished(steadyNs())) return;
        if (parser_.pending() > 0 && nowNs - lastRxNs_ >= kStalePartialNs) {
            trace("discarded " + std::to_string(parser_.pending()) +
                  " bytes of an incomplete frame");
            parser_.reset();
        }
        pollOnce(waitMask);
    }
}

bool SimServer::finished(int64_t nowNs) const {
    if (!options_.exitAfterVerify || !controller_.allVerified() || !queue_.empty()) return false;
    return clientLeftVerified_ || nowNs - lastActivityNs_ >= kExitQuietNs;
}

int64_t SimServer::waitTimeoutNs(int64_t nowNs) const {
    int64_t timeout = kMaxWaitNs;
    if (!queue_.empty()) timeout = std::min(timeout, queue_.nextDueNs() - nowNs);
    if (parser_.pending() > 0) timeout = std::min(timeout, lastRxNs_ + kStalePartialNs - nowNs);
    if (options_.exitAfterVerify && controller_.allVerified()) {
        timeout = std::min(timeout, lastActivityNs_ + kExitQuietNs - nowNs);
    }
    return std::max<int64_t>(timeout, 0);
}

void SimServer::pollOnce(const sigset_t* waitMask) {
    pollfd fds[4] = {};
    nfds_t count = 0;
    auto watch = [&](int fd) {
        if (fd >= 0) fds[count++] = pollfd{fd, POLLIN, 0};
    };
    watch(inotifyFd_);  // before the master: a close ends the old session first
    watch(masterFd_);
    watch(udpFd_);
    watch(clientFd_ >= 0 ? clientFd_ : listenFd_);

    int64_t timeoutNs = waitTimeoutNs(steadyNs());
    timespec wait{static_cast<time_t>(timeoutNs / 1000000000),
                  static_cast<long>(timeoutNs % 1000000000)};
    int ready = ::ppoll(fds, count, &wait, waitMask);
    if (ready <= 0) return;
    for (nfds_t i = 0; i < count; ++i) {
        if (fds[i].revents == 0) continue;
        int fd = fds[i].fd;
        if (fd == inotifyFd_) {
            readPtyEvents();
        } else if (fd == listenFd_) {
            acceptClient();
        } else if (fd == udpFd_) {
            readDatagram();
        } else if (fd == clientFd_ || fd == masterFd_) {
            readStream(fd);
        }
    }
}

void SimServer::acceptClient() {
    clientFd_ = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (clientFd_ < 0) return;
    int one = 1;
    ::setsockopt(clientFd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    queue_.clear();
    parser_.reset();
    lastActivityNs_ = steadyNs();
    trace("client connected");
}

void SimServer::endSession(const char* why) {
    trace(why);
    closeFd(clientFd_);
    queue_.clear();
    parser_.reset();
    if (options_.exitAfterVerify && controller_.allVerified()) clientLeftVerified_ = true;
}

void SimServer::readStream(int fd) {
    uint8_t buffer[4096];
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0) {
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
        if (fd == clientFd_) endSession("client disconnected");
        return;
    }
    int64_t nowNs = steadyNs();
    lastRxNs_ = nowNs;
    lastActivityNs_ = nowNs;
    parser_.feed(buffer, static_cast<size_t>(got));
    while (auto event = parser_.next()) handleEvent(*event, nowNs, PeerAddress{});
}

void SimServer::readDatagram() {
    uint8_t buffer[2048];
    sockaddr_in sender{};
    socklen_t size = sizeof sender;
    ssize_t got =
        ::recvfrom(udpFd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&sender), &size);
    if (got <= 0) return;
    int64_t nowNs = steadyNs();
    lastActivityNs_ = nowNs;
    PeerAddress peer{sender.sin_addr.s_addr, sender.sin_port};
    for (const auto& event : RequestParser::parseDatagram(buffer, static_cast<size_t>(got))) {
        handleEvent(event, nowNs, peer);
    }
}

void SimServer::readPtyEvents() {
    alignas(inotify_event) char buffer[4096];
    bool closed = false;
    ssize_t got;
    while ((got = ::read(inotifyFd_, buffer, sizeof buffer)) > 0) {
        for (char* p = buffer; p < buffer + got;) {
            auto* event = reinterpret_cast<inotify_event*>(p);
            if (event->mask & IN_OPEN) ++ptyOpeners_;
            if (event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
                ptyOpeners_ = std::max(0, ptyOpeners_ - 1);
                closed = true;
            }
            p += sizeof(inotify_event) + event->len;
        }
    }
    if (closed && ptyOpeners_ == 0) resetPtySession();
}

void SimServer::resetPtySession() {
    // The programmer has let go: clear its exclusive flag so its next open
    // succeeds, and drop replies it will never read.
    ::ioctl(slaveFd_, TIOCNXCL);
    ::tcflush(slaveFd_, TCIFLUSH);
    makeRaw(slaveFd_);
    queue_.clear();
    parser_.reset();
    trace("pseudo-terminal closed by the programmer");
    if (options_.exitAfterVerify && controller_.allVerified()) clientLeftVerified_ = true;
}

void SimServer::handleEvent(const RequestParser::Event& event, int64_t arrivalNs,
                            const PeerAddress& peer) {
    if (event.kind == RequestParser::Kind::Skipped) {
        trace("skipped " + std::to_string(event.bytes.size()) + " bytes outside any frame");
        return;
    }
    int64_t receivedNs = queue_.receivedAt(arrivalNs, event.bytes.size());
    if (event.kind == RequestParser::Kind::BadChecksum) {
        trace("ignored a frame with a bad checksum (" + std::to_string(event.bytes.size()) +
              " bytes)");
        return;
    }
    turnarounds_.requestArrived(arrivalNs);
    Request request{event.bytes};
    auto plan = controller_.onRequest(request, receivedNs / kNsPerMs);
    if (!plan) {
        trace("ignored a frame for address " + std::to_string(request.destination()));
        return;
    }
    trace(plan->trace);
    if (!plan->bytes.empty() || plan->closeAfter) {
        queue_.schedule(plan->bytes, receivedNs, peer, plan->closeAfter);
    }
}

void SimServer::flushDue(int64_t nowNs) {
    while (auto chunk = queue_.popDue(nowNs)) {
        sendChunk(*chunk);
        lastActivityNs_ = steadyNs();
        if (chunk->closeAfter && clientFd_ >= 0) {
            endSession("connection closed after the block count");
            return;
        }
    }
}

void SimServer::sendChunk(const OutputQueue::Chunk& chunk) {
    if (chunk.bytes.empty()) return;
    ssize_t sent = -1;
    if (udpFd_ >= 0) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = chunk.peer.ip;
        to.sin_port = chunk.peer.port;
        sent = ::sendto(udpFd_, chunk.bytes.data(), chunk.bytes.size(), MSG_NOSIGNAL,
                        reinterpret_cast<sockaddr*>(&to), sizeof to);
    } else if (clientFd_ >= 0) {
        sent = ::send(clientFd_, chunk.bytes.data(), chunk.bytes.size(), MSG_NOSIGNAL);
    } else if (masterFd_ >= 0) {
        sent = ::write(masterFd_, chunk.bytes.data(), chunk.bytes.size());
    }
    turnarounds_.replySent(steadyNs());
    if (sent != static_cast<ssize_t>(chunk.bytes.size())) {
        trace("reply bytes lost on the link (" + std::string(std::strerror(errno)) + ")");
    }
}

}  // namespace rw::sim
