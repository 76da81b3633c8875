#pragma once
// Runs a program as a user would (no shell), capturing standard output and error together.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace rwtest {

struct ProcessResult {
    int exitCode = -1;   // -1 when the program could not be run or was killed
    std::string output;  // standard output and error, interleaved
};

inline ProcessResult runProcess(const std::vector<std::string>& args) {
    ProcessResult result;
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return result;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::dup2(pipeFds[1], STDERR_FILENO);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        std::vector<char*> argv;
        for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    char buffer[4096];
    for (ssize_t n; pid > 0 && (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        result.output.append(buffer, static_cast<size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    return result;
}

inline std::string inspectPath() {
    return std::string(ROMWRIGHT_BIN_DIR) + "/romwright-inspect";
}

// The bytes of a file; empty when it cannot be read.
inline std::string readFile(const std::string& path) {
    std::string bytes;
    if (std::FILE* in = std::fopen(path.c_str(), "rb")) {
        for (int ch; (ch = std::fgetc(in)) != EOF;) bytes.push_back(static_cast<char>(ch));
        std::fclose(in);
    }
    return bytes;
}

}  // namespace rwtest
