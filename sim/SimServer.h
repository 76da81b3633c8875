#pragma once
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>

#include "sim/OutputQueue.h"
#include "sim/RequestParser.h"
#include "sim/SimController.h"
#include "sim/SimOptions.h"
#include "sim/TurnaroundLog.h"

namespace rw::sim {

// Runs the simulated devices on one link (TCP, UDP or a pseudo-terminal)
// until a stop signal or, with --exit-after-verify, until every device has
// been verified. Single-threaded: one poll loop moves every byte, so the
// faults and the timing stay reproducible.
class SimServer {
  public:
    SimServer(const SimOptions& options, SimController& controller);
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // Sets up the link and prints its address (or the pty path) as the first
    // line of `out`. False with a reason in `error`.
    bool open(FILE* out, std::string& error);
    // Serves until stopped; `waitMask` is the signal mask during each wait
    // (the caller blocks SIGINT and SIGTERM outside it).
    void serve(const sigset_t* waitMask);

    // The programmer's turnarounds seen so far.
    const TurnaroundLog& turnarounds() const { return turnarounds_; }

    // Set from a signal handler: the loop ends at its next wake-up.
    static volatile std::sig_atomic_t stopRequested;

  private:
    bool openTcp(std::string& error);
    bool openUdp(std::string& error);
    bool openPty(std::string& error);
    bool bindSocket(int type, std::string& error);

    int64_t waitTimeoutNs(int64_t nowNs) const;
    void pollOnce(const sigset_t* waitMask);
    void acceptClient();
    void readStream(int fd);
    void readDatagram();
    void readPtyEvents();
    void handleEvent(const RequestParser::Event& event, int64_t arrivalNs, const PeerAddress& peer);
    void flushDue(int64_t nowNs);
    void sendChunk(const OutputQueue::Chunk& chunk);
    void endSession(const char* why);
    void resetPtySession();
    bool finished(int64_t nowNs) const;
    void trace(const std::string& line) const;

    const SimOptions& options_;
    SimController& controller_;
    OutputQueue queue_;
    RequestParser parser_;
    int listenFd_ = -1;
    int clientFd_ = -1;
    int udpFd_ = -1;
    int masterFd_ = -1;
    int slaveFd_ = -1;  // held open so the master never sees a hang-up
    int inotifyFd_ = -1;
    int ptyOpeners_ = 0;
    std::string ptyPath_;
    bool ptyLinkMade_ = false;
    int64_t lastRxNs_ = 0;
    int64_t lastActivityNs_ = 0;
    bool clientLeftVerified_ = false;
    TurnaroundLog turnarounds_;
};

}  // namespace rw::sim
