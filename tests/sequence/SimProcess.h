#pragma once
// Runs romwright-sim as a child process for end-to-end tests and benchmarks:
// starts it with its standard output on a pipe, reads its lines with a bounded
// wait, and stops it by its own process id. Header-only so the benchmarks can
// use it without the test library.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace rwtest {

class SimProcess {
  public:
    using Clock = std::chrono::steady_clock;
    SimProcess() = default;
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;
    ~SimProcess() { stop(); }

    // Starts program with args; false when it could not be started.
    bool start(const std::string& program, const std::vector<std::string>& args) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        std::vector<std::string> all{program};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all) argv.push_back(arg.data());
        argv.push_back(nullptr);
        int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        if (rc != 0) pid_ = -1;
        out_ = rc == 0 ? fds[0] : (::close(fds[0]), -1);
        return rc == 0;
    }

    // The next line of the child's output, waiting at most timeoutMs; nothing
    // when it did not come (or the child closed its output).
    std::optional<std::string> readLine(int timeoutMs) {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (buffer_.find('\n') == std::string::npos) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (out_ < 0 || left.count() <= 0) return std::nullopt;
            pollfd pfd{out_, POLLIN, 0};
            if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) continue;
            char chunk[512];
            ssize_t n = ::read(out_, chunk, sizeof chunk);
            if (n > 0) buffer_.append(chunk, static_cast<size_t>(n));
            if (n <= 0) ::close(std::exchange(out_, -1));
        }
        size_t newline = buffer_.find('\n');
        std::string line =
            buffer_.substr(0, newline - (newline > 0 && buffer_[newline - 1] == '\r'));
        buffer_.erase(0, newline + 1);
        return line;
    }

    // Reads lines until one contains `text`; that line, or nothing after timeoutMs.
    std::optional<std::string> waitForLine(const std::string& text, int timeoutMs) {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (int lines = 0; lines < 1000; ++lines) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            std::optional<std::string> line = readLine(static_cast<int>(left.count()));
            if (!line) return std::nullopt;
            seen_.push_back(*line);
            if (line->find(text) != std::string::npos) return line;
        }
        return std::nullopt;
    }

    // Waits up to timeoutMs for the child to exit by itself; its exit status or nothing.
    std::optional<int> waitExit(int timeoutMs) {
        for (int waited = 0; pid_ > 0 && waited <= timeoutMs; waited += 10) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return std::nullopt;
    }

    // Ends the child (SIGTERM, then SIGKILL after a second) and reaps it.
    void stop() {
        if (pid_ > 0) ::kill(pid_, SIGTERM);
        if (pid_ > 0 && !waitExit(1000) && pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(std::exchange(pid_, -1), nullptr, 0);
        }
        if (out_ >= 0) ::close(std::exchange(out_, -1));
    }

    const std::vector<std::string>& seenLines() const { return seen_; }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffer_;
    std::vector<std::string> seen_;
};

// A port on 127.0.0.2 that was free for both TCP and UDP a moment ago.
inline int freeLoopbackPort() {
    auto bindTo = [](int type, uint32_t host, int port) {
        int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = host;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        socklen_t len = sizeof addr;
        bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                     ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
        ::close(fd);
        return bound ? int{ntohs(addr.sin_port)} : 0;
    };
    for (int attempt = 0; attempt < 20; ++attempt) {
        int port = bindTo(SOCK_STREAM, ::inet_addr("127.0.0.2"), 0);
        if (port != 0 && bindTo(SOCK_DGRAM, htonl(INADDR_ANY), port) != 0) return port;
    }
    return 0;
}

}  // namespace rwtest
