// The window's settings (defaults when the file is empty, stored values kept in
// range) and the command line's tokens.
#include <gtest/gtest.h>

#include <QSettings>

#include "ui/AppSettings.h"
#include "ui/CommandLine.h"
#include "ui/MainSettings.h"

namespace rwtest {
namespace {

using rw::MainSettings;

TEST(Settings, DefaultsForAnEmptyFileAndStoredValuesReadInRange) {
    rw::openSettings()->clear();
    const MainSettings empty = MainSettings::read(5);
    EXPECT_EQ(std::make_tuple(empty.driver, empty.baudRate, empty.address, empty.device, empty.port,
                              empty.stallSeconds),
              std::make_tuple(1, 9600, 101, 0, 0, 60));
    EXPECT_EQ(std::make_tuple(empty.file, empty.ip, empty.recordFile, empty.recordPath("/d/")),
              std::make_tuple(QString("4255.hex"), QString("192.168.0.100:3001"), QString(),
                              std::string("/d/Production.jsonl")));
    EXPECT_EQ(empty.ports, rw::ComPortPaths{});
    const struct {
        const char* key;
        QVariant value;
        int MainSettings::*field;
        int read;
    } cases[] = {{"Driver", 4, &MainSettings::driver, 1},
                 {"Driver", 0, &MainSettings::driver, 1},
                 {"Device", 5, &MainSettings::device, 0},  // one past the 5 rows
                 {"Device", -1, &MainSettings::device, 0},
                 {"StallSeconds", "sixty", &MainSettings::stallSeconds, 60},
                 {"StallSeconds", "0", &MainSettings::stallSeconds, 0},  // no limit
                 {"BaudRate", 1200, &MainSettings::baudRate, 1200}};
    for (const auto& c : cases) {
        rw::openSettings()->clear();
        rw::openSettings()->setValue(QStringLiteral("Info/") + c.key, c.value);
        EXPECT_EQ(MainSettings::read(5).*c.field, c.read) << c.key << " " << &c - cases;
    }
}

// Tokens are read by position (a number as "%d" reads it) until one is missing or
// not a number where one is due; a token longer than its field refuses the start.
TEST(Settings, CommandLineTokensReadUntilOneDoesNotFit) {
    const QString model32(32, 'M'), file256 = "/" + QString(255, 'f');
    const struct {
        QStringList args;
        int tokens;  // model, address, rate, file read
        const char* refusal;
    } cases[] = {{{"M", "5x", "+4800", "f.hex", "extra"}, 4, ""},
                 {{"M", "x", "4800", "f.hex"}, 1, ""},
                 {{"M", "5", "fast", "f.hex"}, 2, ""},
                 {{"M", "5", "4800", ""}, 3, ""},
                 {{model32, "5", "4800", file256}, 4, ""},
                 {{model32 + "M", "5"}, 0, "MODEL NAME TOO LONG"},
                 {{"M", "5", "4800", file256 + "f"}, 3, "FILE NAME TOO LONG"},
                 {{"", "5"}, 0, ""}};
    for (const auto& c : cases) {
        const rw::CommandLine line = rw::CommandLine::parse(c.args);
        using Text = std::optional<QString>;
        using Number = std::optional<int>;
        EXPECT_EQ(
            std::make_tuple(line.model, line.address, line.baudRate, line.file, line.refusal),
            std::make_tuple(c.tokens > 0 ? Text(c.args[0]) : std::nullopt,
                            c.tokens > 1 ? Number(5) : std::nullopt,
                            c.tokens > 2 ? Number(4800) : std::nullopt,
                            c.tokens > 3 ? Text(c.args[3]) : std::nullopt, QString(c.refusal)))
            << c.args.join(' ').left(40).toStdString();
    }
}

}  // namespace
}  // namespace rwtest
