// romwright-inspect as an operator runs it: usage errors, the report of a good
// file with its dump, and failed loads named by line and reason.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/ChildProcess.h"
#include "support/TestEnv.h"
#include "support/TestImages.h"

namespace rwtest {
namespace {

const std::string kInspect = programPath("romwright-inspect");

TEST(InspectCli, UsageErrorsExitWithTwo) {
    TempDir dir;
    const std::string file = writeFile(dir.path() / "a.hex", endRecord()).string();
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"KVTC/1-4400"},
        {"kvtc/1-4400", file},  // names match exactly
        {"KVTC/1-4400", file, "--dump"},
        {"KVTC/1-4400", file, "--verbose"},
    };
    for (const auto& args : cases) {
        std::vector<std::string> argv{kInspect};
        argv.insert(argv.end(), args.begin(), args.end());
        const auto result = runProcess(argv);
        EXPECT_EQ(result.exitCode, 2) << (args.empty() ? "(no arguments)" : args.back());
        EXPECT_EQ(result.output.find("CRC8"), std::string::npos);
    }
    EXPECT_EQ(runProcess({kInspect, "--help"}).exitCode, 0);
}

TEST(InspectCli, PrintsRegionIgnoredBytesLengthAndCrcAndDumpsTheRegion) {
    TempDir dir;
    const auto bytes = patternBytes(0x100, 11);
    const auto file = writeFile(dir.path() / "a.hex",
                                dataRecords(0x7A00, {1, 2, 3, 4}) + dataRecords(0x2000, bytes) +
                                    dataRecords(0x1FFE, {5, 6}) + endRecord());
    const auto dump = dir.path() / "a.bin";
    const auto result =
        runProcess({kInspect, "KVTC/1-4400", file.string(), "--dump", dump.string()});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    char crcLine[32];
    std::snprintf(crcLine, sizeof crcLine, "CRC8 = %02x hex\n", crc8Reference(bytes, 0x58FF));
    for (const char* expected :
         {static_cast<const char*>(crcLine), "0x002000 to 0x0079FF", "0x100 hex, 256 bytes",
          "\n6 bytes outside the region 0x2000-0x79FF ignored: 0x1FFE-0x1FFF, 0x7A00-0x7A03\n"})
        EXPECT_NE(result.output.find(expected), std::string::npos) << result.output;
    EXPECT_EQ(readFile(dump.string()), std::string(bytes.begin(), bytes.end()));
}

// A file that does not load is named with the line and the reason after
// HEX2BIN ERROR; nothing is dumped, nor when the dump cannot be written.
TEST(InspectCli, FailedLoadOrUnwritableDumpExitsWithOneAndWritesNoDump) {
    TempDir dir;
    const std::pair<const char*, std::string> cases[] = {
        // file (null text: none), report
        {":0120000001DD\n", ":1: checksum mismatch: the record ends in 0xDD, its bytes need 0xDE"},
        {nullptr, ": cannot open: No such file or directory"},
        {":0120000001DE\n:00000001FF\n", ""},  // loads, but the dump's folder is missing
    };
    int number = 0;
    for (const auto& [text, reported] : cases) {
        const std::string file = (dir.path() / (std::to_string(++number) + ".hex")).string();
        if (text != nullptr) writeFile(file, text);
        const std::string dump =
            (dir.path() / (reported.empty() ? "missing-folder/a.bin" : "a.bin")).string();
        const auto result = runProcess({kInspect, "KVTC/1-4400", file, "--dump", dump});
        EXPECT_EQ(result.exitCode, 1) << file;
        EXPECT_EQ(
            result.output.find("HEX2BIN ERROR\n" + file + reported + "\n") != std::string::npos,
            !reported.empty())
            << result.output;
        EXPECT_FALSE(std::filesystem::exists(dump)) << file;
    }
}

}  // namespace
}  // namespace rwtest
