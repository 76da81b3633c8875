// The command line and the start-up decisions made before any window exists.
#include <gtest/gtest.h>

#include "ui/CommandLine.h"
#include "ui/ProgrammerApp.h"

namespace {

std::string text(const std::optional<int>& v) { return v ? std::to_string(*v) : "-"; }
std::string text(const std::optional<QString>& v) { return v ? v->toStdString() : "-"; }

// The parsed fields as "model|address|baud|file|refusal", "-" for an absent one.
std::string fields(const CommandLine& line) {
    return text(line.model) + "|" + text(line.address) + "|" + text(line.baudRate) + "|" +
           text(line.file) + "|" + line.refusal.toStdString();
}

TEST(CommandLineParse, ReadsByPositionAndStopsAtTheFirstMisfit) {
    const QString fullFile = "/" + QString(255, 'f');
    const std::pair<QStringList, std::string> cases[] = {
        {{}, "-|-|-|-|"},
        {{"KVTC/2", "250", "38400", "/a b.hex"}, "KVTC/2|250|38400|/a b.hex|"},
        {{"KVTC/2"}, "KVTC/2|-|-|-|"},
        {{"M", "x12", "9600", "f.hex"}, "M|-|-|-|"},
        {{"M", "12abc", "+9600", "f.hex"}, "M|12|9600|f.hex|"},
        {{"M", "-1", "-5"}, "M|-1|-5|-|"},
        {{"M", "99999999999"}, "M|2147483647|-|-|"},  // clamps
        {{"M", "1", "2", "f", "more"}, "M|1|2|f|"},
        {{""}, "-|-|-|-|"},
        {{QString(33, 'M'), "1"}, "-|-|-|-|MODEL NAME TOO LONG"},
        {{"M", "1", "2", "/" + QString(256, 'f')}, "M|1|2|-|FILE NAME TOO LONG"},
        {{"M", "1", "2", fullFile}, "M|1|2|" + fullFile.toStdString() + "|"}};
    for (const auto& [arguments, expected] : cases) {
        const CommandLine line = CommandLine::parse(arguments);
        EXPECT_EQ(line.present, !arguments.isEmpty());
        EXPECT_EQ(fields(line), expected) << arguments.join(' ').left(40).toStdString();
    }
}

TEST(StartupPlanning, ChoosesHowToRun) {
    using K = StartupPlan::Kind;
    const struct {
        QStringList arguments;
        bool qpaSet, display;
        K kind;
        std::optional<std::string> platforms;
    } cases[] = {{{"--help"}, false, false, K::Help, {}},
                 {{"--version"}, false, true, K::Version, {}},
                 {{"--help", "x"}, false, false, K::Run, "offscreen"},
                 {{}, false, false, K::NoDisplay, {}},
                 {{}, false, true, K::Run, {}},
                 {{"M"}, false, true, K::Run, "xcb;offscreen"},
                 {{"M"}, false, false, K::Run, "offscreen"},
                 {{"M"}, true, false, K::Run, {}},  // the caller chose the platform
                 {{}, true, false, K::Run, {}}};
    for (const auto& c : cases) {
        const StartupPlan plan = planStartup(c.arguments, c.qpaSet, c.display);
        SCOPED_TRACE(c.arguments.join(' ').toStdString() + (c.qpaSet ? " qpa" : "") +
                     (c.display ? " display" : ""));
        EXPECT_EQ(plan.kind, c.kind);
        EXPECT_EQ(plan.platformList, c.platforms);
    }
}

}  // namespace
