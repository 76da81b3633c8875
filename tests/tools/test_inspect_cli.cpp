#include <gtest/gtest.h>

#include <filesystem>

#include "engine/test_hex_records.h"
#include "fakes/TestEnv.h"
#include "tools/RunProcess.h"

namespace {

using namespace rwtest;

TEST(InspectCli, UsageErrorsExitWithTwo) {
    TempDir dir;
    const std::string file = writeFile(dir.path() / "a.hex", endRecord()).string();
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"KVTC/1-4400"},
        {"KVTC/1-4400", file, "extra"},
        {"kvtc/1-4400", file},  // names match exactly
        {"KVTC/1-440", file},
        {"KVTC/1-4400", file, "--dump"},
        {"KVTC/1-4400", file, "--verbose"},
        {"KVTC/1-4400", std::string(1100, 'x')},
    };
    for (const auto& args : cases) {
        std::vector<std::string> argv{inspectPath()};
        argv.insert(argv.end(), args.begin(), args.end());
        const auto result = runProcess(argv);
        EXPECT_EQ(result.exitCode, 2) << (args.empty() ? "(no arguments)" : args.back());
        EXPECT_EQ(result.output.find("CRC8"), std::string::npos);
    }
    EXPECT_EQ(runProcess({inspectPath(), "--help"}).exitCode, 0);
}

TEST(InspectCli, PrintsRegionLengthAndCrcAndDumpsTheRegion) {
    TempDir dir;
    const auto bytes = patternBytes(0x100, 11);
    const auto file = writeFile(dir.path() / "a.hex", dataRecords(0x2000, bytes) + endRecord());
    const auto dump = dir.path() / "a.bin";
    const auto result =
        runProcess({inspectPath(), "KVTC/1-4400", file.string(), "--dump", dump.string()});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    char crcLine[32];
    std::snprintf(crcLine, sizeof crcLine, "CRC8 = %02x hex\n", crc8Reference(bytes, 0x58FF));
    for (const char* expected :
         {static_cast<const char*>(crcLine), "0x002000 to 0x0079FF", "0x100 hex, 256 bytes"})
        EXPECT_NE(result.output.find(expected), std::string::npos) << result.output;
    EXPECT_EQ(readFile(dump.string()), std::string(bytes.begin(), bytes.end()));
}

TEST(InspectCli, FailedLoadOrUnwritableDumpExitsWithOneAndWritesNoDump) {
    TempDir dir;
    const std::string good =
        writeFile(dir.path() / "good.hex", dataRecords(0x2000, {1}) + endRecord()).string();
    const std::string out = (dir.path() / "out.bin").string();
    const std::pair<std::string, std::string> cases[] = {
        {writeFile(dir.path() / "bad.hex", ":0120000001DD\n").string(), out},
        {writeFile(dir.path() / "other.hex", dataRecords(0x1000, {1, 2, 3}) + endRecord()).string(),
         out},
        {(dir.path() / "absent.hex").string(), out},
        {good, (dir.path() / "missing-folder" / "a.bin").string()},
    };
    for (const auto& [file, dump] : cases) {
        const auto result = runProcess({inspectPath(), "KVTC/1-4400", file, "--dump", dump});
        EXPECT_EQ(result.exitCode, 1) << file;
        EXPECT_EQ(result.output.find("HEX2BIN ERROR\n") != std::string::npos, file != good) << file;
        EXPECT_FALSE(std::filesystem::exists(dump)) << file;
    }
}

}  // namespace
