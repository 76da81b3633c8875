// romwright-batch: programs the devices of a plan, many links at once: the
// devices on one link one after another, the links side by side.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "control/TextNumbers.h"
#include "engine/DeviceModel.h"
#include "link/SerialPortDiscovery.h"
#include "tools/batch/BatchPlan.h"
#include "tools/batch/BatchRun.h"
#include "tools/batch/SettingsFile.h"

namespace {

constexpr int kExitUsage = 2;
constexpr const char* kProgram = "romwright-batch";

// Tests shorten the device's reply wait with this, so an absent device fails
// in a fraction of a second; nothing else reads it.
constexpr const char* kTestReplyWaitVariable = "ROMWRIGHT_TEST_REPLY_MS";

struct Arguments {
    std::string plan;
    std::string model;
    std::string file;
    size_t jobs = 0;
    int retries = 0;
    int stallSeconds = -1;  // -1: from the settings
    std::string record;     // empty: from the settings
};

// The record file: the option, else the settings' RecordFile, else
// Production.jsonl in the window's data folder (made when missing).
std::string recordPath(const Arguments& arguments, const rw::BatchSettings& settings) {
    if (!arguments.record.empty()) return arguments.record;
    if (!settings.recordFile.empty()) return settings.recordFile;
    std::error_code ignored;
    std::filesystem::create_directories(rw::windowDataFolder(), ignored);
    return rw::windowDataFolder() + "Production.jsonl";
}

int replyTimeoutMs() {
    const char* value = std::getenv(kTestReplyWaitVariable);
    const std::optional<int> ms = value != nullptr ? rw::scanDecimal(value) : std::nullopt;
    return ms && *ms > 0 ? *ms : rw::kModeReplyTimeoutMs;
}

}  // namespace

int main(int argc, char** argv) {
    // A peer that closed its end must never end the program.
    ::signal(SIGPIPE, SIG_IGN);
    const rw::ModelTable models = rw::buildModelTable();
    std::string modelList;
    for (const auto& model : models) modelList += (modelList.empty() ? "" : ", ") + model->name;

    Arguments arguments;
    CLI::App app(
        "Programs the devices of PLAN over many links at once: the devices on one\n"
        "link one after another, the links side by side.",
        kProgram);
    app.get_formatter()->column_width(24);
    app.add_option("PLAN", arguments.plan, "one device per line: LINK ADDRESS [MODEL] [FILE]")
        ->type_name("")
        ->required();
    app.add_option("--model", arguments.model, "model of the lines without one")->type_name("NAME");
    app.add_option("--file", arguments.file, "HEX file of the lines without one")->type_name("HEX");
    app.add_option("--jobs", arguments.jobs, "links at once, 1 or more (default: all)")
        ->type_name("N")
        ->check(CLI::Range(1, 100000).description(""));
    app.add_option("--retries", arguments.retries, "passes over a link's failed devices")
        ->type_name("N")
        ->check(CLI::Range(0, 100000).description(""));
    app.add_option("--stall", arguments.stallSeconds, "no block for SECONDS fails a device")
        ->type_name("SECONDS")
        ->check(CLI::Range(0, 100000).description(""));
    app.add_option("--record", arguments.record, "production record file (-: none)")
        ->type_name("FILE");
    app.footer(
        "LINK: tcp:HOST:PORT, udp:HOST:PORT or serial:DEVICE@RATE (DEVICE a path or\n"
        "COM1 to COM8). FILE is relative to the plan's folder, --file to the working\n"
        "folder. --stall defaults to the settings' StallSeconds (else 60), --record\n"
        "to their RecordFile (else Production.jsonl in the data folder).\n"
        "Models: " +
        modelList +
        "\n"
        "Exit status: 0 every device programmed, 1 otherwise, 2 a bad plan or option.");
    app.set_version_flag("--version", std::string(kProgram) + " " + ROMWRIGHT_VERSION);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? 0 : kExitUsage;
    }

    const rw::BatchSettings settings =
        rw::readBatchSettings(rw::SettingsFile::load(rw::windowSettingsPath()));
    rw::PlanDefaults defaults;
    defaults.model = arguments.model;
    defaults.file = arguments.file;
    // COMn means what it means in the window: its [Ports] entry, else a device present.
    const std::vector<rw::ComPort> ports =
        rw::mapComPorts(settings.ports, rw::discoverSerialDevices());
    for (size_t i = 0; i < ports.size(); ++i) defaults.comPorts[i] = ports[i].path;
    std::string error;
    const std::optional<rw::Plan> plan = rw::readPlan(arguments.plan, defaults, models, error);
    if (!plan) {
        std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
        return kExitUsage;
    }

    rw::BatchOptions options;
    options.jobs = arguments.jobs;
    options.retries = arguments.retries;
    options.stallSeconds =
        arguments.stallSeconds >= 0 ? arguments.stallSeconds : settings.stallSeconds;
    options.recordPath = recordPath(arguments, settings);
    options.program = std::string(kProgram) + " " + ROMWRIGHT_VERSION;
    options.replyTimeoutMs = replyTimeoutMs();
    rw::BatchRun::stopOnSignals();
    rw::BatchRun run(*plan, models, options, stdout, stderr, ::isatty(STDOUT_FILENO) != 0);
    return run.run();
}
