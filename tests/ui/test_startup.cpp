// The command line and the start-up decisions made before any window exists.
#include <gtest/gtest.h>

#include "ui/CommandLine.h"
#include "ui/ProgrammerApp.h"

namespace {

struct ParseCase {
    const char* name;
    QStringList arguments;
    std::optional<QString> model;
    std::optional<int> address;
    std::optional<int> baudRate;
    std::optional<QString> file;
    QString refusal;
};

class CommandLineParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(CommandLineParse, ReadsByPositionAndStopsAtTheFirstMisfit) {
    const ParseCase& c = GetParam();
    const CommandLine line = CommandLine::parse(c.arguments);
    EXPECT_EQ(line.present, !c.arguments.isEmpty());
    EXPECT_EQ(line.model, c.model);
    EXPECT_EQ(line.address, c.address);
    EXPECT_EQ(line.baudRate, c.baudRate);
    EXPECT_EQ(line.file, c.file);
    EXPECT_EQ(line.refusal, c.refusal);
}

const QString kLongModel(33, 'M');
const QString kLongFile = "/" + QString(256, 'f');
const QString kFullFile = "/" + QString(255, 'f');

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineParse,
    ::testing::Values(
        ParseCase{"empty", {}, {}, {}, {}, {}, {}},
        ParseCase{
            "all", {"KVTC/2", "250", "38400", "/a b.hex"}, "KVTC/2", 250, 38400, "/a b.hex", {}},
        ParseCase{"modelOnly", {"KVTC/2"}, "KVTC/2", {}, {}, {}, {}},
        ParseCase{"addressNotANumber", {"M", "x12", "9600", "f.hex"}, "M", {}, {}, {}, {}},
        ParseCase{"leadingNumber", {"M", "12abc", "+9600", "f.hex"}, "M", 12, 9600, "f.hex", {}},
        ParseCase{"negative", {"M", "-1", "-5"}, "M", -1, -5, {}, {}},
        ParseCase{"overflowClamps", {"M", "99999999999"}, "M", 2147483647, {}, {}, {}},
        ParseCase{"extraIgnored", {"M", "1", "2", "f", "more"}, "M", 1, 2, "f", {}},
        ParseCase{"emptyModel", {""}, {}, {}, {}, {}, {}},
        ParseCase{"modelTooLong", {kLongModel, "1"}, {}, {}, {}, {}, "MODEL NAME TOO LONG"},
        ParseCase{"fileTooLong", {"M", "1", "2", kLongFile}, "M", 1, 2, {}, "FILE NAME TOO LONG"},
        ParseCase{"fileFits", {"M", "1", "2", kFullFile}, "M", 1, 2, kFullFile, {}}),
    [](const auto& info) { return std::string(info.param.name); });

struct PlanCase {
    const char* name;
    QStringList arguments;
    bool qpaSet;
    bool display;
    StartupPlan::Kind kind;
    std::optional<std::string> platforms;
};

class StartupPlanning : public ::testing::TestWithParam<PlanCase> {};

TEST_P(StartupPlanning, ChoosesHowToRun) {
    const PlanCase& c = GetParam();
    const StartupPlan plan = planStartup(c.arguments, c.qpaSet, c.display);
    EXPECT_EQ(plan.kind, c.kind);
    EXPECT_EQ(plan.platformList, c.platforms);
}

using K = StartupPlan::Kind;
INSTANTIATE_TEST_SUITE_P(
    Cases, StartupPlanning,
    ::testing::Values(PlanCase{"help", {"--help"}, false, false, K::Help, {}},
                      PlanCase{"version", {"--version"}, false, true, K::Version, {}},
                      PlanCase{"helpWithMore", {"--help", "x"}, false, false, K::Run, "offscreen"},
                      PlanCase{"noDisplayNoCommand", {}, false, false, K::NoDisplay, {}},
                      PlanCase{"window", {}, false, true, K::Run, {}},
                      PlanCase{"commandWithDisplay", {"M"}, false, true, K::Run, "xcb;offscreen"},
                      PlanCase{"commandWithoutDisplay", {"M"}, false, false, K::Run, "offscreen"},
                      PlanCase{"callerChosePlatform", {"M"}, true, false, K::Run, {}},
                      PlanCase{"callerChoseNoCommand", {}, true, false, K::Run, {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
