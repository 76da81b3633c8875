// A full KVTC/2-5140 image (1022 blocks of 128 bytes) against romwright-sim over
// TCP and UDP, the simulator answering at once or every reply 2 ms late, by four
// programmers: a raw blocking loop that sends the same frames, the engine
// headless (JobRunner), the romwright program in command-line mode without a
// display, and the same with its window shown under Xvfb. The simulator itself
// measures each run (--timing): the time from the first request to the last
// reply, and the turnaround from the end of each reply to the next request, so
// every programmer is measured the same way. Over a pseudo-terminal at 38400
// bit/s the engine's run is compared with the wire time of its frames.
//
// The benchmark and everything it starts run on one CPU (unless
// ROMWRIGHT_BENCH_NO_PIN is set): a hand-off between two processes is then a
// direct switch, where across two CPUs this machine's wake-up latency (about
// 0.1 ms, varying with where the scheduler puts them) would hide the programs'
// own turnaround.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "PinToOneCpu.h"
#include "engine/FlashJob.h"
#include "engine/JobRunner.h"
#include "support/ChildProcess.h"
#include "support/TestImages.h"

namespace {

using rwtest::ChildProcess;
using Bytes = std::vector<uint8_t>;

constexpr int kDeviceAddress = 101;
constexpr size_t kModelIndex = 3;      // KVTC/2-5140
constexpr double kBitsPerByte = 11.0;  // 8N2 with the start bit
constexpr int kPtyBaud = 38400;
constexpr size_t kReplyBytes = 9;

enum class Programmer { Raw, Engine, CommandLine, Window };
const char* const kProgrammerNames[] = {"raw", "engine", "command line", "window"};

const rw::DeviceModel& benchModel() {
    static rw::ModelTable table = rw::buildModelTable();
    return *table[kModelIndex];
}

// The full region; its last byte stays 0xFF for the CRC byte that replaces it.
const Bytes& benchImage() {
    static Bytes image = [] {
        Bytes bytes = rwtest::patternBytes(static_cast<size_t>(benchModel().flashEnd));
        bytes.back() = 0xFF;
        return bytes;
    }();
    return image;
}

// A private folder: the HEX file, and a HOME with settings for each program run.
struct Workspace {
    std::filesystem::path folder;
    std::string imagePath;
    Workspace() {
        char pattern[] = "/tmp/romwright-bench-XXXXXX";
        folder = ::mkdtemp(pattern);
        imagePath = (folder / "full.hex").string();
        std::ofstream(imagePath, std::ios::binary)
            << rwtest::intelHex(benchModel().flashStart, benchImage());
    }
    ~Workspace() {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

Workspace& workspace() {
    static Workspace space;
    return space;
}

// An X server of our own for the shown window; empty when Xvfb is missing.
struct VirtualDisplay {
    ChildProcess server;
    std::string name;
    VirtualDisplay() {
        for (int n = 97; n < 140 && name.empty(); ++n) {
            if (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n))) continue;
            const std::string display = ":" + std::to_string(n);
            if (!server.start({"/usr/bin/Xvfb", display, "-screen", "0", "1024x768x24", "-nolisten",
                               "tcp"})) {
                return;
            }
            for (int i = 0; i < 100; ++i) {
                if (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n))) break;
                ::usleep(20000);
            }
            name = display;
        }
    }
};

VirtualDisplay& display() {
    static VirtualDisplay shared;
    return shared;
}

// ---- The frames of one job, built apart from the engine's protocol code -----

Bytes request(uint8_t sequence, uint8_t command, const Bytes& payload) {
    Bytes frame{0x02, uint8_t(kDeviceAddress >> 8),   uint8_t(kDeviceAddress & 0xFF),
                0xFF, uint8_t(0xF8 + (sequence & 3)), command,
                0x77};
    frame.insert(frame.end(), payload.begin(), payload.end());
    unsigned sum = 0;
    for (uint8_t byte : frame) sum += byte;
    frame.push_back(uint8_t(sum));
    return frame;
}

Bytes addressBytes(uint32_t address) {
    return {uint8_t(address >> 16), uint8_t(address >> 8), uint8_t(address)};
}

// Permission, flash initialise, every block, the CRC byte and the confirm.
std::vector<Bytes> jobFrames() {
    const rw::DeviceModel& model = benchModel();
    const Bytes& image = benchImage();
    const uint8_t crc = rwtest::expectedCrc(model, image);
    const Bytes code{uint8_t(model.code >> 8), uint8_t(model.code)};
    std::vector<Bytes> frames;
    uint8_t sequence = 0;
    frames.push_back(request(sequence++, 0x7F, code));
    frames.push_back(request(sequence++, 0xF2, code));
    for (size_t offset = 0; offset < image.size(); offset += 128) {
        const size_t count = std::min<size_t>(128, image.size() - offset);
        Bytes payload = addressBytes(uint32_t(model.flashStart) + uint32_t(offset));
        payload.push_back(uint8_t(count >> 8));
        payload.push_back(uint8_t(count));
        payload.insert(payload.end(), image.begin() + long(offset),
                       image.begin() + long(offset + count));
        frames.push_back(request(sequence++, 0xF0, payload));
    }
    Bytes crcPayload = addressBytes(uint32_t(model.crcAddress()));
    crcPayload.insert(crcPayload.end(), {0x00, 0x01, crc});
    frames.push_back(request(sequence++, 0xF0, crcPayload));
    frames.push_back(request(sequence++, 0xF3, {crc}));
    return frames;
}

double wireSeconds(const std::vector<Bytes>& frames, int baud) {
    size_t bytes = 0;
    for (const Bytes& frame : frames) bytes += frame.size() + kReplyBytes;
    return double(bytes) * kBitsPerByte / baud;
}

// ---- The programmers ---------------------------------------------------------

bool rawJob(int linkKind, int port) {
    const bool datagram = linkKind == rw::LINK_UDP;
    const int fd = ::socket(AF_INET, (datagram ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
    timeval timeout{3, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    int on = 1;
    if (!datagram) ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = ::inet_addr("127.0.0.2");
    bool done = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    uint8_t reply[512];
    for (const Bytes& frame : jobFrames()) {
        if (!done) break;
        done = ::write(fd, frame.data(), frame.size()) == ssize_t(frame.size());
        size_t got = 0;
        while (done && got < kReplyBytes) {
            const ssize_t n = ::read(fd, reply + got, sizeof reply - got);
            done = n > 0;
            got += done ? size_t(n) : 0;
        }
        done = done && reply[7] == 0;
    }
    ::close(fd);
    return done;
}

rw::JobRequest jobRequest(int linkKind, int port) {
    rw::JobRequest request;
    request.model = &benchModel();
    request.deviceAddress = kDeviceAddress;
    request.linkKind = linkKind;
    request.hostName = "127.0.0.2";
    request.port = port;
    request.baudRate = kPtyBaud;
    request.imagePath = workspace().imagePath;
    return request;
}

// The romwright program with a command line, its settings pointing at the simulator.
bool programJob(int linkKind, const std::string& endpoint, const std::string& displayName) {
    const std::filesystem::path home = workspace().folder / "home";
    std::filesystem::remove_all(home);
    std::filesystem::create_directories(home / "config/KVT Controls");
    std::filesystem::create_directories(home / "run");
    std::filesystem::permissions(home / "run", std::filesystem::perms::owner_all);
    std::ofstream(home / "config/KVT Controls/romwright.conf")
        << "[Info]\nDriver=" << (linkKind == rw::LINK_UDP ? 3 : 2) << "\nIP=" << endpoint
        << "\nSounds=\n";
    rwtest::ProcessOptions options;
    options.mergeErrors = true;
    options.environment = {"HOME=" + home.string(), "XDG_CONFIG_HOME=" + (home / "config").string(),
                           "XDG_DATA_HOME=" + (home / "data").string(),
                           "XDG_RUNTIME_DIR=" + (home / "run").string(), "WAYLAND_DISPLAY"};
    if (displayName.empty()) {
        options.environment.insert(options.environment.end(),
                                   {"DISPLAY", "QT_QPA_PLATFORM=offscreen"});
    } else {
        options.environment.insert(options.environment.end(),
                                   {"DISPLAY=" + displayName, "QT_QPA_PLATFORM"});
    }
    ChildProcess program;
    if (!program.start({rwtest::programPath("romwright"), benchModel().name,
                        std::to_string(kDeviceAddress), "19200", workspace().imagePath},
                       options)) {
        return false;
    }
    return program.waitExit(120000) == 0;
}

// ---- One run: a fresh simulator, one programmer, the simulator's timing -----

struct Timing {
    double jobSeconds = 0, p50Us = 0, p99Us = 0, maxUs = 0;
};

// "timing: N turnarounds, p50 A us, p99 B us, max C us; first request to last reply D s"
std::optional<Timing> parseTiming(const std::string& output) {
    const size_t at = output.find("timing:");
    if (at == std::string::npos) return {};
    Timing t;
    size_t count = 0;
    if (std::sscanf(output.c_str() + at,
                    "timing: %zu turnarounds, p50 %lf us, p99 %lf us, max %lf us; first request "
                    "to last reply %lf s",
                    &count, &t.p50Us, &t.p99Us, &t.maxUs, &t.jobSeconds) != 5) {
        return {};
    }
    return t;
}

std::optional<Timing> runOnce(Programmer programmer, int linkKind, int delayMs) {
    ChildProcess sim;
    const auto endpoint = rwtest::startSimulator(
        sim, {"--model", benchModel().name, "--address", std::to_string(kDeviceAddress),
              "--erase-ms", "0", "--delay-ms", std::to_string(delayMs), "--timing",
              "--exit-after-verify", linkKind == rw::LINK_TCP ? "--tcp" : "--udp", "127.0.0.2:0"});
    if (!endpoint) return {};
    const int port = rwtest::portOf(*endpoint);
    bool done = false;
    switch (programmer) {
        case Programmer::Raw:
            done = rawJob(linkKind, port);
            break;
        case Programmer::Engine:
            done = rw::JobRunner().run(jobRequest(linkKind, port)) == 0;
            break;
        case Programmer::CommandLine:
            done = programJob(linkKind, *endpoint, "");
            break;
        case Programmer::Window:
            done = !display().name.empty() && programJob(linkKind, *endpoint, display().name);
            break;
    }
    if (!done || sim.waitExit(10000) != 0) return {};
    return parseTiming(sim.output());
}

// Mean job time of each (link, delay, programmer), for the summary table.
std::map<std::tuple<int, int, int>, Timing>& results() {
    static std::map<std::tuple<int, int, int>, Timing> table;
    return table;
}

void BM_Program(benchmark::State& state) {
    const auto programmer = static_cast<Programmer>(state.range(0));
    const int linkKind = static_cast<int>(state.range(1));
    const int delayMs = static_cast<int>(state.range(2));
    state.SetLabel(std::string(linkKind == rw::LINK_TCP ? "TCP" : "UDP") + " " +
                   std::to_string(delayMs) + " ms, " + kProgrammerNames[state.range(0)]);
    Timing sum;
    for (auto _ : state) {
        const std::optional<Timing> timing = runOnce(programmer, linkKind, delayMs);
        if (!timing) {
            state.SkipWithError("the job did not complete");
            return;
        }
        state.SetIterationTime(timing->jobSeconds);
        sum.jobSeconds += timing->jobSeconds;
        sum.p50Us += timing->p50Us;
        sum.p99Us += timing->p99Us;
        sum.maxUs = std::max(sum.maxUs, timing->maxUs);
    }
    const double n = double(state.iterations());
    const Timing mean{sum.jobSeconds / n, sum.p50Us / n, sum.p99Us / n, sum.maxUs};
    results()[{linkKind, delayMs, int(state.range(0))}] = mean;
    state.counters["p50_us"] = mean.p50Us;
    state.counters["p99_us"] = mean.p99Us;
    state.counters["max_us"] = mean.maxUs;
}

void BM_EnginePty38400(benchmark::State& state) {
    ChildProcess sim;
    const auto path = rwtest::startSimulator(
        sim, {"--model", benchModel().name, "--address", std::to_string(kDeviceAddress),
              "--erase-ms", "0", "--pty", "--baud", std::to_string(kPtyBaud)});
    if (!path) {
        state.SkipWithError("romwright-sim did not start");
        return;
    }
    rw::WorkerServices services;
    services.serialPortPath = [path = *path](int) { return path; };
    for (auto _ : state) {
        if (rw::JobRunner(services).run(jobRequest(rw::LINK_SERIAL, 1)) != 0) {
            state.SkipWithError("job failed");
            return;
        }
    }
    state.counters["wire_s"] = wireSeconds(jobFrames(), kPtyBaud);
}

BENCHMARK(BM_Program)
    ->ArgsProduct({{0, 1, 2, 3}, {rw::LINK_TCP, rw::LINK_UDP}, {0, 2}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_EnginePty38400)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// The README's table: job time against the raw loop's, and the turnarounds.
void printSummary() {
    std::printf("\n| link | reply delay | programmer | job | vs raw | p50 | p99 | max |\n");
    std::printf("|---|---|---|---|---|---|---|---|\n");
    for (const auto& [key, t] : results()) {
        const auto& [linkKind, delayMs, programmer] = key;
        const auto raw = results().find({linkKind, delayMs, 0});
        const double ratio =
            raw == results().end() ? 0 : t.jobSeconds / std::max(raw->second.jobSeconds, 1e-9);
        std::printf("| %s | %d ms | %s | %.3f s | %.2f | %.0f us | %.0f us | %.0f us |\n",
                    linkKind == rw::LINK_TCP ? "TCP" : "UDP", delayMs, kProgrammerNames[programmer],
                    t.jobSeconds, ratio, t.p50Us, t.p99Us, t.maxUs);
    }
}

}  // namespace

int main(int argc, char** argv) {
    rwbench::pinToOneCpu();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printSummary();
    return 0;
}
