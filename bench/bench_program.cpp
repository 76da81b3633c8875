// A full KVTC/2-5140 image (1022 blocks of 128 bytes) programmed through the
// real sequence and links against romwright-sim, next to a raw loop that sends
// the same frames to the same simulator with plain blocking reads. Over a
// pseudo-terminal at 38400 bit/s the run is compared with the wire time of all
// its frames at 8N2 (11 bits per byte).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include "engine/FlashJob.h"
#include "engine/JobNotifier.h"
#include "engine/JobRunner.h"
#include "engine/ProgramDevice.h"
#include "link/SerialPortPaths.h"
#include "support/ChildProcess.h"
#include "support/TestImages.h"

namespace {

using rwtest::ChildProcess;
using Bytes = std::vector<uint8_t>;

constexpr int kDeviceAddress = 101;
constexpr int kModelIndex = 3;         // KVTC/2-5140
constexpr double kBitsPerByte = 11.0;  // 8N2 with the start bit
constexpr int kPtyBaud = 38400;

const rw::DeviceModel& benchModel() {
    static rw::ModelTable table = rw::buildModelTable();
    return *table[kModelIndex];
}

// The full region; its last byte stays 0xFF for the CRC byte that replaces it.
const std::vector<uint8_t>& benchImage() {
    static std::vector<uint8_t> image = [] {
        std::vector<uint8_t> bytes =
            rwtest::patternBytes(static_cast<size_t>(benchModel().flashEnd));
        bytes.back() = 0xFF;
        return bytes;
    }();
    return image;
}

struct Workspace {
    std::filesystem::path folder;
    std::string imagePath;
    Workspace() {
        char pattern[] = "/tmp/romwright-bench-XXXXXX";
        folder = ::mkdtemp(pattern);
        imagePath = (folder / "full.hex").string();
        std::ofstream(imagePath, std::ios::binary)
            << rwtest::intelHex(static_cast<uint32_t>(benchModel().flashStart), benchImage());
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

// One simulator per link kind, shared by the engine run and the raw loop.
struct Simulator {
    ChildProcess process;
    int port = 0;
    std::string ptyPath;
    bool ready = false;
};

// Keeps this thread, the threads it starts and the simulators it spawns on the
// CPU it runs on, so hand-offs between them are direct switches rather than
// cross-CPU wake-ups whose cost depends on what else the machine is doing.
void pinToOneCpu() {
    static bool pinned = [] {
        if (std::getenv("ROMWRIGHT_BENCH_NO_PIN") != nullptr) return false;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(static_cast<size_t>(sched_getcpu()), &one);
        return sched_setaffinity(0, sizeof one, &one) == 0;
    }();
    (void)pinned;
}

Simulator& simulator(int linkKind) {
    pinToOneCpu();
    static std::map<int, std::unique_ptr<Simulator>> sims;
    std::unique_ptr<Simulator>& sim = sims[linkKind];
    if (sim) return *sim;
    sim = std::make_unique<Simulator>();
    std::vector<std::string> args{"--model",    benchModel().name,
                                  "--address",  std::to_string(kDeviceAddress),
                                  "--erase-ms", "0"};
    if (linkKind == rw::LINK_SERIAL) {
        args.insert(args.end(), {"--pty", "--baud", std::to_string(kPtyBaud)});
    } else {
        // Port 0: the simulator takes a free port and prints it.
        args.push_back(linkKind == rw::LINK_TCP ? "--tcp" : "--udp");
        args.push_back("127.0.0.2:0");
    }
    const std::optional<std::string> endpoint = rwtest::startSimulator(sim->process, args);
    if (!endpoint) return *sim;
    if (linkKind == rw::LINK_SERIAL) {
        sim->ptyPath = *endpoint;
    } else {
        sim->port = rwtest::portOf(*endpoint);
    }
    sim->ready = true;
    return *sim;
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
    const std::vector<uint8_t>& image = benchImage();
    uint8_t crc = rwtest::expectedCrc(model, image);
    Bytes code{uint8_t(model.code >> 8), uint8_t(model.code)};
    std::vector<Bytes> frames;
    uint8_t sequence = 0;
    frames.push_back(request(sequence++, 0x7F, code));
    frames.push_back(request(sequence++, 0xF2, code));
    for (size_t offset = 0; offset < image.size(); offset += 128) {
        size_t count = std::min<size_t>(128, image.size() - offset);
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

constexpr size_t kReplyBytes = 9;

double wireSeconds(const std::vector<Bytes>& frames, int baud) {
    size_t bytes = 0;
    for (const Bytes& frame : frames) bytes += frame.size() + kReplyBytes;
    return double(bytes) * kBitsPerByte / baud;
}

// ---- Raw loops -----------------------------------------------------------------

bool readExactly(int fd, uint8_t* buffer, size_t count, bool datagram) {
    size_t got = 0;
    for (int reads = 0; got < count && reads < 64; ++reads) {
        ssize_t n = datagram ? ::recv(fd, buffer, 512, 0) : ::read(fd, buffer + got, count - got);
        if (n <= 0) return false;
        got += size_t(n);
    }
    return got >= count;
}

bool rawJob(int fd, const std::vector<Bytes>& frames, bool datagram) {
    uint8_t reply[512];
    for (const Bytes& frame : frames) {
        if (::write(fd, frame.data(), frame.size()) != ssize_t(frame.size())) return false;
        if (!readExactly(fd, reply, kReplyBytes, datagram) || reply[7] != 0) return false;
    }
    return true;
}

int connectedSocket(int linkKind, int port) {
    int fd =
        ::socket(AF_INET, (linkKind == rw::LINK_TCP ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
    timeval timeout{3, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (linkKind == rw::LINK_TCP) {
        int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = ::inet_addr("127.0.0.2");
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int openPty(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    tio.c_cflag |= CSTOPB | CLOCAL | CREAD;
    ::cfsetspeed(&tio, B38400);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &tio);
    return fd;
}

// ---- Benchmarks ------------------------------------------------------------------

void runEngine(benchmark::State& state, int linkKind) {
    Simulator& sim = simulator(linkKind);
    if (!sim.ready) {
        state.SkipWithError("romwright-sim did not start");
        return;
    }
    rw::JobRequest request;
    request.model = &benchModel();
    request.deviceAddress = kDeviceAddress;
    request.linkKind = linkKind;
    request.hostName = "127.0.0.2";
    request.port = linkKind == rw::LINK_SERIAL ? 1 : sim.port;
    request.baudRate = kPtyBaud;
    request.imagePath = workspace().imagePath;
    double loadMs = 0;
    for (auto _ : state) {
        rw::WorkerServices services;
        services.serialPortPath = [path = sim.ptyPath](int) { return path; };
        rw::JobRunner runner(services);
        auto started = std::chrono::steady_clock::now();
        std::string last;
        runner.setListener([&](const rw::JobEvent& event, rw::FlashJob&) {
            if (event.kind == rw::JobEvent::Kind::Status) last = event.text;
            if (event.kind != rw::JobEvent::Kind::Crc) return;
            loadMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                                started)
                          .count();
        });
        if (runner.run(request) != 0) {
            state.SkipWithError(("job failed: " + last).c_str());
            return;
        }
    }
    state.counters["blocks"] = 1022;
    // Time from the start to the CRC notification: opening the link and loading the file.
    state.counters["load_ms"] = loadMs / double(state.iterations());
    if (linkKind == rw::LINK_SERIAL) {
        state.counters["wire_s"] = wireSeconds(jobFrames(), kPtyBaud);
    }
}

// A window that handles every notification on the worker's own thread: the
// sequence and the links alone, without the hand-off to a window thread.
class InlineWindow : public rw::JobNotifier {
  public:
    void sendFlashStatus(rw::FlashJob&, int, int) override { ++statusCount; }
    void sendFlashCrc(rw::FlashJob&, int) override {}
    void postFlashDone(int) override {}
    void postQuit(int) override {}
    int statusCount = 0;
};

void runInline(benchmark::State& state, int linkKind) {
    Simulator& sim = simulator(linkKind);
    if (!sim.ready) {
        state.SkipWithError("romwright-sim did not start");
        return;
    }
    auto job = std::make_unique<rw::FlashJob>();
    InlineWindow window;
    for (auto _ : state) {
        job->imageLength = 0;
        job->bytesWritten = 0;
        job->window = &window;
        job->running = 1;
        job->failed = 0;
        job->linkKind = linkKind;
        job->deviceAddress = kDeviceAddress;
        job->model = &benchModel();
        job->port = sim.port;
        std::snprintf(job->hostName, sizeof job->hostName, "127.0.0.2");
        std::snprintf(job->imagePath, sizeof job->imagePath, "%s", workspace().imagePath.c_str());
        if (rw::ProgramDeviceThread(*job, rw::WorkerServices{}) != 0) {
            state.SkipWithError("job failed");
            return;
        }
    }
}

void runRaw(benchmark::State& state, int linkKind) {
    Simulator& sim = simulator(linkKind);
    if (!sim.ready) {
        state.SkipWithError("romwright-sim did not start");
        return;
    }
    std::vector<Bytes> frames = jobFrames();
    for (auto _ : state) {
        int fd = linkKind == rw::LINK_SERIAL ? openPty(sim.ptyPath)
                                             : connectedSocket(linkKind, sim.port);
        bool done = fd >= 0 && rawJob(fd, frames, linkKind == rw::LINK_UDP);
        if (fd >= 0) ::close(fd);
        if (!done) {
            state.SkipWithError("raw job failed");
            return;
        }
    }
    state.counters["frames"] = double(frames.size());
}

void BM_EngineTcp(benchmark::State& state) {
    runEngine(state, rw::LINK_TCP);
}
void BM_InlineTcp(benchmark::State& state) {
    runInline(state, rw::LINK_TCP);
}
void BM_InlineUdp(benchmark::State& state) {
    runInline(state, rw::LINK_UDP);
}
void BM_RawTcp(benchmark::State& state) {
    runRaw(state, rw::LINK_TCP);
}
void BM_EngineUdp(benchmark::State& state) {
    runEngine(state, rw::LINK_UDP);
}
void BM_RawUdp(benchmark::State& state) {
    runRaw(state, rw::LINK_UDP);
}
void BM_EnginePty38400(benchmark::State& state) {
    runEngine(state, rw::LINK_SERIAL);
}

BENCHMARK(BM_EngineTcp)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_InlineTcp)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_RawTcp)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_EngineUdp)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_InlineUdp)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_RawUdp)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_EnginePty38400)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
