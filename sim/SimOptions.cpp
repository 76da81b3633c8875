#include "sim/SimOptions.h"

#include <charconv>
#include <cstdlib>

namespace rw::sim {

namespace {

bool parseInteger(const std::string& text, long long low, long long high, long long& value) {
    long long result = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), result);
    if (ec != std::errc() || end != text.data() + text.size() || result < low || result > high) {
        return false;
    }
    value = result;
    return true;
}

bool parseRate(const std::string& text, double& value) {
    char* end = nullptr;
    double result = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(result >= 0.0 && result <= 1.0)) return false;
    value = result;
    return true;
}

bool parseHostPort(const std::string& text, std::string& host, int& port) {
    size_t colon = text.rfind(':');
    long long number = 0;
    if (colon == std::string::npos || colon == 0 ||
        !parseInteger(text.substr(colon + 1), 0, 65535, number)) {
        return false;
    }
    host = text.substr(0, colon);
    port = static_cast<int>(number);
    return true;
}

// "3,7,10-12": request numbers counted from 1.
bool parseNumberList(const std::string& text, std::set<uint64_t>& numbers) {
    size_t begin = 0;
    while (begin <= text.size()) {
        size_t comma = text.find(',', begin);
        std::string item = text.substr(begin, comma == std::string::npos ? comma : comma - begin);
        size_t dash = item.find('-');
        long long first = 0;
        long long last = 0;
        bool ok = dash == std::string::npos
                      ? parseInteger(item, 1, 1LL << 53, first) && (last = first, true)
                      : parseInteger(item.substr(0, dash), 1, 1LL << 53, first) &&
                            parseInteger(item.substr(dash + 1), first, first + 100000, last);
        if (!ok) return false;
        for (long long n = first; n <= last; ++n) numbers.insert(static_cast<uint64_t>(n));
        if (comma == std::string::npos) break;
        begin = comma + 1;
    }
    return !numbers.empty();
}

bool parseSplit(const std::string& text, LineTiming& timing) {
    size_t colon = text.find(':');
    long long pieces = 0;
    long long gapMs = 0;
    if (colon == std::string::npos || !parseInteger(text.substr(0, colon), 1, 64, pieces) ||
        !parseInteger(text.substr(colon + 1), 0, 60000, gapMs)) {
        return false;
    }
    timing.splitPieces = static_cast<int>(pieces);
    timing.splitGapMs = static_cast<int>(gapMs);
    return true;
}

bool parseInt(const std::string& text, long long low, long long high, int& target) {
    long long value = 0;
    if (!parseInteger(text, low, high, value)) return false;
    target = static_cast<int>(value);
    return true;
}

// A device address (0..65535) appended to list.
bool addAddress(const std::string& text, std::vector<uint16_t>& list) {
    int address = 0;
    if (!parseInt(text, 0, 65535, address)) return false;
    list.push_back(static_cast<uint16_t>(address));
    return true;
}

// One setter per option: takes the option's value (empty for a switch) into
// the options; false when the value is bad.
bool setTcp(const std::string& v, SimOptions& o) {
    o.link = LinkKind::Tcp;
    return parseHostPort(v, o.host, o.port);
}
bool setUdp(const std::string& v, SimOptions& o) {
    o.link = LinkKind::Udp;
    return parseHostPort(v, o.host, o.port);
}
bool setPty(const std::string&, SimOptions& o) {
    o.link = LinkKind::Pty;
    return true;
}
bool setPtyLink(const std::string& v, SimOptions& o) {
    o.ptyLink = v;
    return !v.empty();
}
bool setBaud(const std::string& v, SimOptions& o) {
    return parseInt(v, 1, 10000000, o.timing.baud);
}
bool setAddress(const std::string& v, SimOptions& o) {
    return addAddress(v, o.config.addresses);
}
bool setModel(const std::string& v, SimOptions& o) {
    o.config.model = findSimModel(v);
    return o.config.model != nullptr;
}
bool setEraseMs(const std::string& v, SimOptions& o) {
    o.eraseMsGiven = true;
    return parseInt(v, 0, 600000, o.config.device.eraseMs);
}
bool setRefusePermission(const std::string&, SimOptions& o) {
    o.config.device.refusePermission = true;
    return true;
}
bool setRefusePermissionFor(const std::string& v, SimOptions& o) {
    return addAddress(v, o.config.refusePermissionFor);
}
bool setRefuseVerify(const std::string&, SimOptions& o) {
    o.config.device.refuseVerify = true;
    return true;
}
bool setResetAfterBlocks(const std::string& v, SimOptions& o) {
    return parseInt(v, 1, 1 << 30, o.config.device.resetAfterBlocks);
}
bool setCloseAfterBlocks(const std::string& v, SimOptions& o) {
    return parseInt(v, 1, 1 << 30, o.config.closeAfterBlocks);
}
bool setSeed(const std::string& v, SimOptions& o) {
    long long seed = 0;
    if (!parseInteger(v, 0, INT64_MAX, seed)) return false;
    o.config.faults.seed = static_cast<uint64_t>(seed);
    return true;
}
bool setDropRate(const std::string& v, SimOptions& o) {
    return parseRate(v, o.config.faults.dropRate);
}
bool setDropRequests(const std::string& v, SimOptions& o) {
    return parseNumberList(v, o.config.faults.dropRequests);
}
bool setCorruptRate(const std::string& v, SimOptions& o) {
    return parseRate(v, o.config.faults.corruptRate);
}
bool setStaleRate(const std::string& v, SimOptions& o) {
    return parseRate(v, o.config.faults.staleRate);
}
bool setDelayMs(const std::string& v, SimOptions& o) {
    return parseInt(v, 0, 600000, o.timing.delayMs);
}
bool setSplit(const std::string& v, SimOptions& o) {
    return parseSplit(v, o.timing);
}
bool setVerbose(const std::string&, SimOptions& o) {
    o.verbose = true;
    return true;
}
bool setExitAfterVerify(const std::string&, SimOptions& o) {
    o.exitAfterVerify = true;
    return true;
}
bool setTiming(const std::string&, SimOptions& o) {
    o.reportTiming = true;
    return true;
}
bool setDumpDir(const std::string& v, SimOptions& o) {
    o.dumpDir = v;
    return !v.empty();
}
bool setHelp(const std::string&, SimOptions& o) {
    o.help = true;
    return true;
}

struct OptionRule {
    const char* name;
    bool takesValue;
    bool (*set)(const std::string& value, SimOptions& options);
};

constexpr OptionRule kOptionRules[] = {
    {"--tcp", true, setTcp},
    {"--udp", true, setUdp},
    {"--pty", false, setPty},
    {"--pty-link", true, setPtyLink},
    {"--baud", true, setBaud},
    {"--address", true, setAddress},
    {"--model", true, setModel},
    {"--erase-ms", true, setEraseMs},
    {"--refuse-permission", false, setRefusePermission},
    {"--refuse-permission-for", true, setRefusePermissionFor},
    {"--refuse-verify", false, setRefuseVerify},
    {"--reset-after-blocks", true, setResetAfterBlocks},
    {"--close-after-blocks", true, setCloseAfterBlocks},
    {"--seed", true, setSeed},
    {"--drop-rate", true, setDropRate},
    {"--drop-requests", true, setDropRequests},
    {"--corrupt-rate", true, setCorruptRate},
    {"--stale-rate", true, setStaleRate},
    {"--delay-ms", true, setDelayMs},
    {"--split", true, setSplit},
    {"--verbose", false, setVerbose},
    {"--exit-after-verify", false, setExitAfterVerify},
    {"--timing", false, setTiming},
    {"--dump-dir", true, setDumpDir},
    {"--help", false, setHelp},
};

// The rule of the option called `name`, or null.
const OptionRule* findRule(const std::string& name) {
    for (const OptionRule& rule : kOptionRules) {
        if (name == rule.name) return &rule;
    }
    return nullptr;
}

bool checkCombination(SimOptions& o, std::string& error) {
    if (o.link == LinkKind::None) {
        error = "choose a link: --tcp HOST:PORT, --udp HOST:PORT or --pty";
    } else if (o.config.addresses.empty()) {
        error = "give at least one --address";
    } else if (!o.ptyLink.empty() && o.link != LinkKind::Pty) {
        error = "--pty-link needs --pty";
    } else if (o.config.closeAfterBlocks > 0 && o.link != LinkKind::Tcp) {
        error = "--close-after-blocks needs --tcp";
    } else {
        if (o.config.model == nullptr) o.config.model = &simModels().front();
        if (!o.eraseMsGiven) o.config.device.eraseMs = o.config.model->defaultEraseMs;
        o.timing.datagram = o.link == LinkKind::Udp;
        return true;
    }
    return false;
}

}  // namespace

bool parseSimOptions(const std::vector<std::string>& args, SimOptions& options,
                     std::string& error) {
    SimOptions& o = options;
    int linkCount = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool inlineValue = false;
        if (size_t equals = name.find('=');
            name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            inlineValue = true;
        }
        const OptionRule* rule = findRule(name);
        if (rule == nullptr) {
            error = "unknown option " + args[i];
            return false;
        }
        if (rule->takesValue && !inlineValue) {
            if (i + 1 >= args.size()) {
                error = name + " needs a value";
                return false;
            }
            value = args[++i];
        } else if (!rule->takesValue && inlineValue) {
            error = name + " takes no value";
            return false;
        }
        if (name == "--tcp" || name == "--udp" || name == "--pty") ++linkCount;
        if (!rule->set(value, o)) {
            error = "bad value for " + name + ": " + value;
            return false;
        }
    }
    if (o.help) return true;
    if (linkCount > 1) {
        error = "give only one of --tcp, --udp, --pty";
        return false;
    }
    return checkCombination(o, error);
}

std::string simUsage() {
    std::string text = R"(Usage: romwright-sim LINK --address A [--address B ...] [options]

Simulates field controllers on one link so that a flash job can be rehearsed
without hardware. Each device answers only frames addressed to it.

Link (exactly one):
  --tcp HOST:PORT          listen on HOST:PORT; one client at a time, a new one is
                           accepted after a disconnect (port 0: any free port)
  --udp HOST:PORT          receive on HOST:PORT (bound with SO_REUSEADDR) and reply
                           to the sender of each request (port 0: any free port)
  --pty                    create a pseudo-terminal pair; the path the programmer
                           opens is the first line of output
  --pty-link PATH          also make a symbolic link PATH to that path
  --baud N                 pace every byte sent at N bit/s (11 bits per character,
                           8N2) and count each received frame's wire time before
                           answering
For --tcp and --udp the first line of output is the bound HOST:PORT.

Devices:
  --address A              a device address, 0 to 65535 (repeatable; required)
  --model NAME             the model of every device (default KVTC/1-4400):
                           KVTC/1-4400, KVTC/1-4255, KVTC/1-3000, KVTC/2-5140,
                           KVTC/2-5240
  --erase-ms N             silence after a flash initialise, in ms (default 1500
                           for the 1-series, 800 for the 2-series; 0 allowed);
                           requests meanwhile get no reply
  --refuse-permission      refuse every permission request
  --refuse-permission-for A
                           only device A refuses permission (repeatable)
  --refuse-verify          refuse every CRC confirm

Faults (reproducible: the same --seed hits the same request numbers):
  --seed N                 seed of every random choice, also of the old firmware
                           a device holds before its first erase (default 1)
  --drop-rate F            drop this fraction (0 to 1) of the replies
  --drop-requests LIST     drop the replies to these request numbers, counted from
                           1 in order of arrival (e.g. 3,7,10-12)
  --corrupt-rate F         send this fraction of replies with a wrong checksum
  --stale-rate F           send this fraction of replies with the previous
                           sequence byte (as if answering an earlier request)
  --delay-ms N             delay every reply by N ms
  --split N:GAPMS          send every reply in N pieces, GAPMS ms apart
  --close-after-blocks N   close the TCP connection after the Nth accepted block
                           write has been answered (once)
  --reset-after-blocks N   after a device's Nth accepted block write, it forgets
                           its erase: the region holds the old firmware again (once)

Output:
  --verbose                one line per request on standard error
  --dump-dir DIR           on exit, write each device's region (flash start to the
                           region's end, CRC byte included) to DIR/<address>.bin
  --exit-after-verify      exit once every device has passed a CRC confirm and the
                           link has been quiet for half a second (or the client
                           left)
  --timing                 add to the summary how fast the programmer answered:
                           the time from each reply to the next request (p50,
                           p99, max) and from the first request to the last reply
  --help                   this text

On SIGINT or SIGTERM, or with --exit-after-verify, it writes the dumps and
prints a summary: requests, repeated requests (same sequence, command and
payload as the device's previous request) and each device's verify result.

Device behaviour: a request with a wrong checksum is ignored; CMD_MODE gets the
short acknowledge, every other command the full reply. Permission and flash
initialise refuse (status 1) a model code other than the device's. A flash
initialise erases the region to 0xFF; a write clears bits only (NOR flash) and
is refused (status 3) outside the region; the CRC confirm passes only when the
CRC-8/MAXIM of the region without its last byte equals both the request's byte
and the region's last byte (status 4 otherwise, 5 with --refuse-verify). An
unknown command (its frame ends at the first valid checksum) is refused with
status 0xFF.

Exit status: 0 normal, 1 the link could not be set up, 2 usage error.
)";
    return text;
}

}  // namespace rw::sim
