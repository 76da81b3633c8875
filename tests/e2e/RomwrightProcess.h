#pragma once
// Runs the real romwright binary as a user's script would: in command-line mode,
// without a display, in a private HOME / XDG environment whose settings the test
// wrote first. Output is collected from pipes; every wait is bounded and the
// child is ended by its own process id.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace e2e {

class RomwrightProcess {
public:
    RomwrightProcess() = default;
    RomwrightProcess(const RomwrightProcess&) = delete;
    RomwrightProcess& operator=(const RomwrightProcess&) = delete;
    ~RomwrightProcess() { kill(SIGKILL); }

    // home: the private folder holding config/, data/ and run/.
    bool start(const std::string& program, const std::vector<std::string>& args,
               const std::string& home) {
        int out[2];
        int err[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return false;
        if (::pipe2(err, O_CLOEXEC) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        std::vector<std::string> all{program};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all) argv.push_back(arg.data());
        argv.push_back(nullptr);
        std::vector<std::string> env = environment(home);
        std::vector<char*> envp;
        for (std::string& entry : env) envp.push_back(entry.data());
        envp.push_back(nullptr);
        const int rc =
            posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        if (rc != 0) {
            ::close(out[0]);
            ::close(err[0]);
            pid_ = -1;
            return false;
        }
        out_ = out[0];
        err_ = err[0];
        return true;
    }

    // Collects output until the child exits or timeoutMs passed; its exit code
    // (128 + signal when killed) or nothing on time-out.
    std::optional<int> wait(int timeoutMs) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
            drain(20);
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                drain(0);
                exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return exitCode_;
            }
        }
        return exitCode_;
    }

    // Reads output until stdout holds text, at most timeoutMs.
    bool waitForOutput(const std::string& text, int timeoutMs) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (stdout_.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() >= deadline || (out_ < 0 && err_ < 0))
                return false;
            drain(20);
        }
        return true;
    }

    void kill(int signalNumber) {
        if (pid_ <= 0) return;
        ::kill(pid_, signalNumber);
        if (signalNumber == SIGKILL) {
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        for (int* fd : {&out_, &err_}) {
            if (*fd >= 0 && signalNumber == SIGKILL) {
                ::close(*fd);
                *fd = -1;
            }
        }
    }

    const std::string& out() const { return stdout_; }
    const std::string& err() const { return stderr_; }

private:
    static std::vector<std::string> environment(const std::string& home) {
        std::vector<std::string> env;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text(*entry);
            const std::string name = text.substr(0, text.find('='));
            if (name == "DISPLAY" || name == "WAYLAND_DISPLAY" || name == "QT_QPA_PLATFORM" ||
                name == "HOME" || name.rfind("XDG_", 0) == 0 || name.rfind("LC_", 0) == 0 ||
                name == "LANG") {
                continue;
            }
            env.push_back(text);
        }
        env.push_back("HOME=" + home);
        env.push_back("XDG_CONFIG_HOME=" + home + "/config");
        env.push_back("XDG_DATA_HOME=" + home + "/data");
        env.push_back("XDG_RUNTIME_DIR=" + home + "/run");
        env.push_back("TMPDIR=" + home);
        env.push_back("LC_ALL=C");
        return env;
    }

    void drain(int timeoutMs) {
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (::poll(fds, 2, timeoutMs) <= 0) return;
        std::string* sinks[2] = {&stdout_, &stderr_};
        int* owners[2] = {&out_, &err_};
        for (int i = 0; i < 2; ++i) {
            if (*owners[i] < 0 || (fds[i].revents & (POLLIN | POLLHUP)) == 0) continue;
            char chunk[4096];
            const ssize_t n = ::read(*owners[i], chunk, sizeof chunk);
            if (n > 0) {
                sinks[i]->append(chunk, static_cast<size_t>(n));
            } else {
                ::close(*owners[i]);
                *owners[i] = -1;
            }
        }
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string stdout_;
    std::string stderr_;
    std::optional<int> exitCode_;
};

}  // namespace e2e
