#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/test_hex_records.h"
#include "fakes/TestEnv.h"
#include "tools/RunProcess.h"

namespace {

using rwtest::inspectPath;
using rwtest::runProcess;

std::string readFile(const std::filesystem::path& path) {
    std::string bytes;
    if (std::FILE* in = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        size_t count;
        while ((count = std::fread(buffer, 1, sizeof buffer, in)) > 0) bytes.append(buffer, count);
        std::fclose(in);
    }
    return bytes;
}

TEST(InspectCli, HelpExplainsUsageAndListsTheModels) {
    auto result = runProcess({inspectPath(), "--help"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.output.find("romwright-inspect MODEL FILE [--dump OUT]"), std::string::npos);
    for (const char* model :
         {"KVTC/1-4400", "KVTC/1-4255", "KVTC/1-3000", "KVTC/2-5140", "KVTC/2-5240"}) {
        EXPECT_NE(result.output.find(model), std::string::npos) << model;
    }
}

TEST(InspectCli, UsageErrorsExitWithTwo) {
    rwtest::TempDir dir;
    auto file = rwtest::writeFile(dir.path() / "a.hex", rwtest::endRecord()).string();
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
        auto result = runProcess(argv);
        EXPECT_EQ(result.exitCode, 2) << (args.empty() ? "(no arguments)" : args.back());
        EXPECT_EQ(result.output.find("CRC8"), std::string::npos);
    }
}

TEST(InspectCli, PrintsRegionLengthAndCrc) {
    rwtest::TempDir dir;
    auto bytes = rwtest::patternBytes(0x100, 11);
    auto file = rwtest::writeFile(dir.path() / "a.hex",
                                  rwtest::dataRecords(0x2000, bytes) + rwtest::endRecord());
    auto dump = dir.path() / "a.bin";
    auto result =
        runProcess({inspectPath(), "KVTC/1-4400", file.string(), "--dump", dump.string()});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    char crcLine[32];
    std::snprintf(crcLine, sizeof crcLine, "CRC8 = %02x hex\n",
                  rwtest::crc8Reference(bytes, 0x58FF));
    EXPECT_NE(result.output.find(crcLine), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("KVTC/1-4400"), std::string::npos);
    EXPECT_NE(result.output.find("0x002000 to 0x0079FF"), std::string::npos);
    EXPECT_NE(result.output.find("0x100 hex, 256 bytes"), std::string::npos);
    EXPECT_EQ(readFile(dump), std::string(bytes.begin(), bytes.end()));
}

TEST(InspectCli, FailedLoadPrintsHex2BinErrorAndWritesNoDump) {
    rwtest::TempDir dir;
    const std::vector<std::string> files = {
        rwtest::writeFile(dir.path() / "bad.hex", ":0120000001DD\n").string(),
        rwtest::writeFile(dir.path() / "other.hex",
                          rwtest::dataRecords(0x1000, {1, 2, 3}) + rwtest::endRecord())
            .string(),
        (dir.path() / "absent.hex").string(),
    };
    for (const auto& file : files) {
        auto dump = dir.path() / "out.bin";
        auto result = runProcess({inspectPath(), "KVTC/1-4400", file, "--dump", dump.string()});
        EXPECT_EQ(result.exitCode, 1) << file;
        EXPECT_NE(result.output.find("HEX2BIN ERROR\n"), std::string::npos) << file;
        EXPECT_FALSE(std::filesystem::exists(dump)) << file;
    }
}

TEST(InspectCli, UnwritableDumpFails) {
    rwtest::TempDir dir;
    auto file = rwtest::writeFile(dir.path() / "a.hex",
                                  rwtest::dataRecords(0x2000, {1}) + rwtest::endRecord());
    auto dump = dir.path() / "missing-folder" / "a.bin";
    auto result =
        runProcess({inspectPath(), "KVTC/1-4400", file.string(), "--dump", dump.string()});
    EXPECT_EQ(result.exitCode, 1);
}

}  // namespace
