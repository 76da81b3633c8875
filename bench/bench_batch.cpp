// romwright-batch on a site of 8 gateways with 8 controllers each: eight
// romwright-sim processes on 127.0.0.2 to 127.0.0.9, all on one UDP port (the
// batch then shares one socket among its eight links), every reply 2 ms late
// as a flash block write takes. One plan of 64 devices (an 8 KiB image each),
// run once with all links side by side and once with --jobs 1; the wall time
// of each run and the ratio. The work is waiting for replies, not computing,
// so eight links on two cores should come close to eight times as fast.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include "support/ChildProcess.h"
#include "support/TestImages.h"

namespace {

using rwtest::ChildProcess;

constexpr int kGateways = 8;
constexpr int kDevicesPerGateway = 8;
constexpr int kReplyDelayMs = 2;
constexpr size_t kImageBytes = 8192;
const char* const kModel = "KVTC/1-4255";

// The simulators, the plan, the image and a private home, for both runs.
struct Site {
    std::filesystem::path folder;
    ChildProcess sims[kGateways];
    bool up = false;

    Site() {
        char pattern[] = "/tmp/romwright-bench-batch-XXXXXX";
        folder = ::mkdtemp(pattern);
        std::ofstream(folder / "image.hex")
            << rwtest::intelHex(0x1000, rwtest::patternBytes(kImageBytes, 3));
        std::string port = "0";
        std::ofstream plan(folder / "site.plan");
        for (int gateway = 0; gateway < kGateways; ++gateway) {
            const std::string host = "127.0.0." + std::to_string(gateway + 2);
            std::vector<std::string> args{"--udp",      host + ":" + port,
                                          "--model",    kModel,
                                          "--erase-ms", "0",
                                          "--delay-ms", std::to_string(kReplyDelayMs)};
            for (int device = 1; device <= kDevicesPerGateway; ++device) {
                args.insert(args.end(), {"--address", std::to_string(gateway * 100 + device)});
                plan << "udp:" << host << ":" << (gateway == 0 ? "PORT" : port) << " "
                     << gateway * 100 + device << "\n";
            }
            const std::optional<std::string> bound = rwtest::startSimulator(sims[gateway], args);
            if (!bound) return;
            port = std::to_string(rwtest::portOf(*bound));
        }
        plan.close();
        // The first gateway's lines name the port it was given.
        std::ifstream in(folder / "site.plan");
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (size_t at; (at = text.find("PORT")) != std::string::npos;) text.replace(at, 4, port);
        std::ofstream(folder / "site.plan") << text;
        up = true;
    }
    ~Site() {
        for (ChildProcess& sim : sims) sim.stop();
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }

    // One run of the whole plan: its exit code and wall time in seconds.
    std::pair<int, double> run(const std::vector<std::string>& options) {
        const std::string home = folder.string();
        std::vector<std::string> argv{rwtest::programPath("romwright-batch"),
                                      home + "/site.plan",
                                      "--model",
                                      kModel,
                                      "--file",
                                      home + "/image.hex",
                                      "--record",
                                      "-"};
        argv.insert(argv.end(), options.begin(), options.end());
        rwtest::ProcessOptions process;
        process.mergeErrors = true;
        process.environment = {"HOME=" + home, "XDG_CONFIG_HOME=" + home + "/config",
                               "XDG_DATA_HOME=" + home + "/data", "XDG_RUNTIME_DIR=" + home};
        ChildProcess batch;
        const auto start = std::chrono::steady_clock::now();
        if (!batch.start(argv, process)) return {-1, 0};
        const int exitCode = batch.waitExit(600000).value_or(-1);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (exitCode != 0) std::fputs(batch.output().c_str(), stderr);
        return {exitCode, took.count()};
    }
};

Site& site() {
    static Site shared;
    return shared;
}

std::map<std::string, double>& wallTimes() {
    static std::map<std::string, double> times;
    return times;
}

void BM_Batch(benchmark::State& state, std::vector<std::string> options, const char* name) {
    if (!site().up) {
        state.SkipWithError("the simulators did not start");
        return;
    }
    for (auto _ : state) {
        const auto [exitCode, seconds] = site().run(options);
        if (exitCode != 0) {
            state.SkipWithError("romwright-batch did not program every device");
            return;
        }
        state.SetIterationTime(seconds);
        wallTimes()[name] = seconds;
    }
    state.counters["devices"] = kGateways * kDevicesPerGateway;
}

BENCHMARK_CAPTURE(BM_Batch, all_links, std::vector<std::string>{}, "all links")
    ->Unit(benchmark::kSecond)
    ->UseManualTime()
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_Batch, jobs_1, std::vector<std::string>{"--jobs", "1"}, "--jobs 1")
    ->Unit(benchmark::kSecond)
    ->UseManualTime()
    ->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const auto& times = wallTimes();
    if (times.count("all links") != 0 && times.count("--jobs 1") != 0) {
        std::printf(
            "%d devices on %d links: %.2f s side by side, %.2f s one link at a time: %.1fx\n",
            kGateways * kDevicesPerGateway, kGateways, times.at("all links"), times.at("--jobs 1"),
            times.at("--jobs 1") / times.at("all links"));
    }
    return 0;
}
