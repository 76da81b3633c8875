// romwright-sim: simulated field controllers for rehearsing flash jobs.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/SimServer.h"

namespace {

void onStopSignal(int) {
    rw::sim::SimServer::stopRequested = 1;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace rw::sim;
    std::vector<std::string> args(argv + 1, argv + argc);
    SimOptions options;
    std::string error;
    if (!parseSimOptions(args, options, error)) {
        std::fprintf(stderr, "romwright-sim: %s\nTry 'romwright-sim --help'.\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(simUsage().c_str(), stdout);
        return 0;
    }

    // A client that goes away must never kill the simulator.
    std::signal(SIGPIPE, SIG_IGN);
    // Stop signals are held back except while the loop waits, so a stop can
    // never slip in between the check and the wait.
    sigset_t stopSignals;
    sigset_t waitMask;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    SimController controller(options.config);
    SimServer server(options, controller);
    if (!server.open(stdout, error)) {
        std::fprintf(stderr, "romwright-sim: %s\n", error.c_str());
        return 1;
    }
    server.serve(&waitMask);

    int status = 0;
    if (!options.dumpDir.empty() && !controller.dumpRegions(options.dumpDir, error)) {
        std::fprintf(stderr, "romwright-sim: %s\n", error.c_str());
        status = 1;
    }
    std::fputs(controller.summary().c_str(), stdout);
    if (options.reportTiming) std::fputs(server.turnarounds().summary().c_str(), stdout);
    std::fflush(stdout);
    return status;
}
