#include "support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <utility>

extern char** environ;

namespace rwtest {
namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<int64_t>(left.count(), 0));
}

// Our environment with the changes applied ("NAME=value" sets, "NAME" removes).
std::vector<std::string> environmentWith(const std::vector<std::string>& changes) {
    std::vector<std::string> entries;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry)
        entries.emplace_back(*entry);
    for (const std::string& change : changes) {
        const std::string name = change.substr(0, change.find('='));
        std::erase_if(entries, [&name](const std::string& entry) {
            return entry.compare(0, name.size() + 1, name + "=") == 0;
        });
        if (change.size() > name.size()) entries.push_back(change);
    }
    return entries;
}

// Pointers to the strings, ended by a null pointer, as exec takes them.
std::vector<char*> pointersTo(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& text : strings) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

bool ChildProcess::start(const std::vector<std::string>& argv, const ProcessOptions& options) {
    stop();
    output_.clear();
    lineStart_ = 0;
    int fds[2];
    if (argv.empty() || ::pipe2(fds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    if (options.mergeErrors) {
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    } else if (!options.errorFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, options.errorFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    std::vector<std::string> args = argv;
    std::vector<std::string> environment = environmentWith(options.environment);
    const int rc = posix_spawn(&pid_, args[0].c_str(), &actions, nullptr, pointersTo(args).data(),
                               pointersTo(environment).data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        pid_ = -1;
        ::close(fds[0]);
        return false;
    }
    out_ = fds[0];
    return true;
}

bool ChildProcess::readSome(int timeoutMs) {
    if (out_ < 0) return false;
    pollfd entry{out_, POLLIN, 0};
    if (::poll(&entry, 1, std::max(timeoutMs, 0)) <= 0) return false;
    char chunk[4096];
    const ssize_t count = ::read(out_, chunk, sizeof chunk);
    if (count <= 0) {
        closePipe();
        return false;
    }
    output_.append(chunk, static_cast<size_t>(count));
    return true;
}

void ChildProcess::closePipe() {
    if (out_ >= 0) ::close(std::exchange(out_, -1));
}

std::optional<std::string> ChildProcess::readLine(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t newline = output_.find('\n', lineStart_);
    while (newline == std::string::npos) {
        const int left = msLeft(deadline);
        if (out_ < 0 || left == 0) return std::nullopt;
        readSome(left);
        newline = output_.find('\n', lineStart_);
    }
    const size_t end = newline > lineStart_ && output_[newline - 1] == '\r' ? newline - 1 : newline;
    std::string line = output_.substr(lineStart_, end - lineStart_);
    lineStart_ = newline + 1;
    return line;
}

std::optional<int> ChildProcess::waitExit(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (pid_ > 0) {
        int status = 0;
        const pid_t reaped = ::waitpid(pid_, &status, WNOHANG);
        if (reaped == pid_ || reaped < 0) {
            pid_ = -1;
            // What the child wrote last; a grandchild holding the pipe open does not
            // keep us waiting long.
            for (int reads = 0; reads < 10000 && readSome(100); ++reads) {
            }
            if (reaped < 0) return std::nullopt;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        const int slice = std::min(msLeft(deadline), 10);
        if (slice == 0) return std::nullopt;
        // Reading meanwhile keeps a talkative child from blocking on a full pipe.
        if (!readSome(slice) && out_ < 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(slice));
    }
    return std::nullopt;
}

bool ChildProcess::signal(int signalNumber) {
    return pid_ > 0 && ::kill(pid_, signalNumber) == 0;
}

void ChildProcess::stop() {
    if (signal(SIGTERM) && !waitExit(1000) && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(std::exchange(pid_, -1), nullptr, 0);
    }
    closePipe();
}

std::string programPath(const std::string& name) {
    return std::string(ROMWRIGHT_BIN_DIR) + "/" + name;
}

std::optional<std::string> startSimulator(ChildProcess& sim, const std::vector<std::string>& args) {
    std::vector<std::string> argv{programPath("romwright-sim")};
    argv.insert(argv.end(), args.begin(), args.end());
    if (!sim.start(argv)) return std::nullopt;
    return sim.readLine(5000);
}

int portOf(const std::string& endpoint) {
    const size_t colon = endpoint.rfind(':');
    return colon == std::string::npos ? 0 : std::atoi(endpoint.c_str() + colon + 1);
}

}  // namespace rwtest
