#include "SimProcess.h"

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

#include <cerrno>
#include <chrono>

extern char** environ;

namespace simtest {

namespace {

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int leftMs(int64_t deadline) {
    return static_cast<int>(std::max<int64_t>(0, deadline - nowMs()));
}

}  // namespace

SimProcess::SimProcess(const std::vector<std::string>& args, const std::string& errPath) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return;
    std::string binary = std::string(ROMWRIGHT_BIN_DIR) + "/romwright-sim";
    std::vector<char*> argv;
    argv.push_back(binary.data());
    std::vector<std::string> copies = args;
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid = -1;
    if (posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
        pid_ = pid;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    outFd_ = pipeFds[0];
}

SimProcess::~SimProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (outFd_ >= 0) ::close(outFd_);
}

bool SimProcess::readSome(int timeoutMs) {
    pollfd p{outFd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return false;
    char chunk[4096];
    ssize_t got = ::read(outFd_, chunk, sizeof chunk);
    if (got <= 0) return false;
    buffer_.append(chunk, static_cast<size_t>(got));
    return true;
}

std::string SimProcess::firstLine(int timeoutMs) {
    int64_t deadline = nowMs() + timeoutMs;
    while (buffer_.find('\n') == std::string::npos) {
        if (!readSome(leftMs(deadline))) return "";
    }
    size_t end = buffer_.find('\n');
    std::string line = buffer_.substr(0, end);
    buffer_.erase(0, end + 1);
    return line;
}

int SimProcess::waitExit(int timeoutMs) {
    int64_t deadline = nowMs() + timeoutMs;
    int status = 0;
    while (pid_ > 0) {
        pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            pid_ = -1;
            break;
        }
        if (nowMs() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
            return -1;
        }
        readSome(10);
    }
    while (readSome(0)) {
    }
    output_ = buffer_;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void SimProcess::signal(int number) {
    if (pid_ > 0) ::kill(pid_, number);
}

StreamLink::~StreamLink() {
    if (fd_ >= 0) ::close(fd_);
}

bool StreamLink::send(const std::vector<uint8_t>& frame) {
    ssize_t sent = ::send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == ENOTSOCK) sent = ::write(fd_, frame.data(), frame.size());
    return sent == static_cast<ssize_t>(frame.size());
}

std::vector<uint8_t> StreamLink::receive(size_t expected, int timeoutMs) {
    std::vector<uint8_t> bytes;
    int64_t deadline = nowMs() + timeoutMs;
    while (bytes.size() < expected) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, leftMs(deadline)) <= 0) break;
        uint8_t chunk[512];
        ssize_t got = ::read(fd_, chunk, std::min(sizeof chunk, expected - bytes.size()));
        if (got <= 0) break;
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    return bytes;
}

bool StreamLink::peerClosed(int timeoutMs) {
    int64_t deadline = nowMs() + timeoutMs;
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, leftMs(deadline)) <= 0) return false;
        uint8_t chunk[64];
        if (::read(fd_, chunk, sizeof chunk) <= 0) return true;
    }
}

UdpLink::UdpLink(const std::string& host, int port) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
    in_addr address{};
    ::inet_pton(AF_INET, host.c_str(), &address);
    ip_ = address.s_addr;
    port_ = htons(static_cast<uint16_t>(port));
}

UdpLink::~UdpLink() {
    if (fd_ >= 0) ::close(fd_);
}

bool UdpLink::send(const std::vector<uint8_t>& frame) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = ip_;
    to.sin_port = port_;
    return ::sendto(fd_, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&to),
                    sizeof to) == static_cast<ssize_t>(frame.size());
}

std::vector<uint8_t> UdpLink::receive(size_t, int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return {};
    uint8_t datagram[2048];
    ssize_t got = ::recv(fd_, datagram, sizeof datagram, 0);
    if (got <= 0) return {};
    return std::vector<uint8_t>(datagram, datagram + got);
}

bool splitHostPort(const std::string& text, std::string* host, int* port) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    *host = text.substr(0, colon);
    *port = std::atoi(text.c_str() + colon + 1);
    return *port > 0;
}

int connectTcp(const std::string& hostPort) {
    std::string host;
    int port = 0;
    if (!splitHostPort(hostPort, &host, &port)) return -1;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, host.c_str(), &to.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int openPty(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    ::ioctl(fd, TIOCEXCL);
    termios settings{};
    ::tcgetattr(fd, &settings);
    ::cfmakeraw(&settings);
    settings.c_cflag |= CSTOPB | CLOCAL | CREAD;
    ::tcsetattr(fd, TCSANOW, &settings);
    return fd;
}

}  // namespace simtest
