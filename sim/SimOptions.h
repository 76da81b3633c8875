#pragma once
#include <string>
#include <vector>

#include "sim/OutputQueue.h"
#include "sim/SimController.h"

namespace rw::sim {

enum class LinkKind { None, Tcp, Udp, Pty };

// The command line of romwright-sim.
struct SimOptions {
    LinkKind link = LinkKind::None;
    std::string host;  // --tcp / --udp
    int port = 0;      // 0: any free port (the chosen one is printed)
    std::string ptyLink;
    SimConfig config;
    LineTiming timing;
    bool eraseMsGiven = false;
    bool verbose = false;
    bool exitAfterVerify = false;
    bool reportTiming = false;  // --timing: the turnaround line in the summary
    std::string dumpDir;
    bool help = false;
};

// Parses argv; false with a message in `error` for a usage error.
bool parseSimOptions(const std::vector<std::string>& args, SimOptions& options, std::string& error);

// The --help text.
std::string simUsage();

}  // namespace rw::sim
