#pragma once
// Runs the real romwright-sim for a test and talks to it over loopback or its
// pseudo-terminal. Every wait is bounded; the process is ended by its own id.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>

#include "SimTestFrames.h"

extern char** environ;

namespace simtest {

inline int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

inline int leftMs(int64_t deadline) {
    return static_cast<int>(std::max<int64_t>(0, deadline - nowMs()));
}

class SimProcess {
  public:
    // Starts the simulator with `args`; its standard error goes to errPath.
    SimProcess(std::vector<std::string> args, const std::string& errPath) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        args.insert(args.begin(), std::string(ROMWRIGHT_BIN_DIR) + "/romwright-sim");
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        out_ = fds[0];
    }
    ~SimProcess() {
        if (pid_ > 0) ::kill(pid_, SIGKILL), ::waitpid(pid_, nullptr, 0);
        if (out_ >= 0) ::close(out_);
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // The first line of standard output (address or pty path), "" on time-out.
    std::string firstLine(int timeoutMs = 5000) {
        int64_t deadline = nowMs() + timeoutMs;
        size_t end;
        while ((end = buffer_.find('\n')) == std::string::npos) {
            if (!readSome(leftMs(deadline))) return "";
        }
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return line;
    }
    // The exit code, or -1 when it did not end in time (then it is killed).
    int waitExit(int timeoutMs = 10000) {
        int64_t deadline = nowMs() + timeoutMs;
        int status = 0;
        while (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) != pid_) {
            if (nowMs() >= deadline) ::kill(pid_, SIGKILL);
            readSome(10);
        }
        pid_ = -1;
        while (readSome(0)) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void signal(int number) {
        if (pid_ > 0) ::kill(pid_, number);
    }
    // Standard output after the first line, complete once the process has ended.
    const std::string& output() const { return buffer_; }

  private:
    bool readSome(int timeoutMs) {
        pollfd p{out_, POLLIN, 0};
        char chunk[4096];
        ssize_t got = ::poll(&p, 1, timeoutMs) > 0 ? ::read(out_, chunk, sizeof chunk) : 0;
        if (got > 0) buffer_.append(chunk, static_cast<size_t>(got));
        return got > 0;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffer_;
};

// A client end of the simulated link: a stream (TCP, pty) or a datagram socket.
class Link {
  public:
    explicit Link(int fd, bool datagram = false) : fd_(fd), datagram_(datagram) {}
    ~Link() {
        if (fd_ >= 0) ::close(fd_);
    }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    bool ok() const { return fd_ >= 0; }
    bool send(const Bytes& frame) {
        ssize_t sent = ::send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == ENOTSOCK) sent = ::write(fd_, frame.data(), frame.size());
        return sent == static_cast<ssize_t>(frame.size());
    }
    // Bytes received until `expected` have arrived or timeoutMs has passed (a
    // datagram link returns the first datagram).
    Bytes receive(size_t expected, int timeoutMs) {
        Bytes bytes;
        int64_t deadline = nowMs() + timeoutMs;
        while (bytes.size() < expected) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, leftMs(deadline)) <= 0) break;
            uint8_t chunk[2048];
            size_t room =
                datagram_ ? sizeof chunk : std::min(sizeof chunk, expected - bytes.size());
            ssize_t got = ::read(fd_, chunk, room);
            if (got <= 0) break;
            bytes.insert(bytes.end(), chunk, chunk + got);
            if (datagram_) break;
        }
        return bytes;
    }
    // True when the peer closes (a read gives 0) within timeoutMs.
    bool peerClosed(int timeoutMs) {
        pollfd p{fd_, POLLIN, 0};
        uint8_t byte;
        return ::poll(&p, 1, timeoutMs) > 0 && ::read(fd_, &byte, 1) == 0;
    }

  private:
    int fd_;
    bool datagram_;
};

// "127.0.0.2:40000" -> socket address.
inline sockaddr_in socketAddress(const std::string& hostPort) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    size_t colon = hostPort.rfind(':');
    if (colon == std::string::npos) return address;
    address.sin_port = htons(static_cast<uint16_t>(std::atoi(hostPort.c_str() + colon + 1)));
    ::inet_pton(AF_INET, hostPort.substr(0, colon).c_str(), &address.sin_addr);
    return address;
}

inline int connectTo(int fd, const sockaddr_in& to) {
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) return fd;
    if (fd >= 0) ::close(fd);
    return -1;
}

inline Link tcpLink(const std::string& hostPort) {
    return Link(
        connectTo(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), socketAddress(hostPort)));
}

// Binds the simulator's port on every local address with address reuse,
// exactly as the programmer's UDP link does.
inline Link udpLink(const std::string& hostPort) {
    sockaddr_in to = socketAddress(hostPort), local{};
    local.sin_family = AF_INET;
    local.sin_port = to.sin_port;
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0), one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) ::close(fd), fd = -1;
    return Link(connectTo(fd, to), true);
}

// Opens a pty path as the programmer does: raw, two stop bits, exclusive.
inline Link ptyLink(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    if (fd >= 0 && ::ioctl(fd, TIOCEXCL) == 0 && ::tcgetattr(fd, &settings) == 0) {
        ::cfmakeraw(&settings);
        settings.c_cflag |= CSTOPB | CLOCAL | CREAD;
        ::tcsetattr(fd, TCSANOW, &settings);
    }
    return Link(fd);
}

}  // namespace simtest
