#pragma once
// Runs our programs (and other tools) as child processes, as a user would start
// them but without a shell: standard output comes back through a pipe, every
// wait is bounded, and the child is ended by its own process id.
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace rwtest {

// How a child is started.
struct ProcessOptions {
    bool mergeErrors = false;  // standard error joins standard output on the pipe
    std::string errorFile;     // otherwise standard error goes here (empty: ours)
    // Changes to our environment: "NAME=value" sets NAME, "NAME" removes it.
    std::vector<std::string> environment;
};

class ChildProcess {
  public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() { stop(); }

    // Starts argv[0] (a path) with the arguments after it, ending a child this
    // object still runs; false when it could not be started.
    bool start(const std::vector<std::string>& argv, const ProcessOptions& options = {});

    // The next line of output, waiting at most timeoutMs; nothing when none came
    // (or the child closed its output).
    std::optional<std::string> readLine(int timeoutMs);
    // Waits at most timeoutMs for the child to end, collecting its output; its
    // exit status (128 + the signal when one ended it), or nothing.
    std::optional<int> waitExit(int timeoutMs);
    // Sends a signal; false when no child runs.
    bool signal(int signalNumber);
    // Ends the child (SIGTERM, SIGKILL after a second), reaps it and closes the pipe.
    void stop();

    // Everything the child wrote to the pipe so far, lines taken by readLine included.
    const std::string& output() const { return output_; }

  private:
    // Reads what arrives within timeoutMs; false when nothing did or the pipe closed.
    bool readSome(int timeoutMs);
    void closePipe();

    pid_t pid_ = -1;
    int out_ = -1;
    std::string output_;
    size_t lineStart_ = 0;
};

// The path of one of our programs in the build ("romwright-sim").
std::string programPath(const std::string& name);

// Starts romwright-sim with `args` and returns the first line it prints: the
// address it bound ("127.0.0.2:PORT") or its pseudo-terminal's path. Nothing
// when it did not come up within 5 s.
std::optional<std::string> startSimulator(ChildProcess& sim, const std::vector<std::string>& args);

// The port of "host:port" (0 when there is none).
int portOf(const std::string& endpoint);

}  // namespace rwtest
