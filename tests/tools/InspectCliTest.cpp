// romwright-inspect as an operator runs it: the report of a good file with its
// dump, failed loads named by line and reason, and usage errors; a dump is
// written only for a file that loaded.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/ChildProcess.h"
#include "support/TestEnv.h"
#include "support/TestImages.h"

namespace rwtest {
namespace {

TEST(InspectCli, ReportsLoadsFailuresAndUsageErrorsByExitStatusAndDumpsOnlyWhatLoaded) {
    TempDir dir;
    const auto bytes = patternBytes(0x100, 11);
    const std::string good =
        writeFile(dir.path() / "good.hex", dataRecords(0x7A00, {1, 2, 3, 4}) +
                                               dataRecords(0x2000, bytes) +
                                               dataRecords(0x1FFE, {5, 6}) + endRecord())
            .string();
    const std::string bad = writeFile(dir.path() / "bad.hex", ":0120000001DD\n").string();
    const std::string gone = (dir.path() / "gone.hex").string();
    const std::string dump = (dir.path() / "a.bin").string();
    const std::string noFolder = (dir.path() / "missing/a.bin").string();
    char crcLine[32];
    std::snprintf(crcLine, sizeof crcLine, "CRC8 = %02x hex\n", crc8Reference(bytes, 0x58FF));
    const struct {
        std::vector<std::string> args;
        int exitCode;
        std::string output;
        bool dumped;
    } cases[] = {
        {{"KVTC/1-4400", good, "--dump", dump},
         0,
         std::string("CRC byte at 0x0079FF)\n6 bytes outside the region ") +
             "0x2000-0x79FF ignored: 0x1FFE-0x1FFF, 0x7A00-0x7A03\n" +
             "Image length: 0x100 hex, 256 bytes\n" + crcLine,
         true},
        {{"KVTC/1-4400", bad, "--dump", dump},
         1,
         "HEX2BIN ERROR\n" + bad +
             ":1: checksum mismatch: the record ends in 0xDD, its bytes need 0xDE\n",
         false},
        {{"KVTC/1-4400", gone}, 1, "HEX2BIN ERROR\n" + gone + ": cannot open: No such file", false},
        {{"KVTC/1-4400", good, "--dump", noFolder}, 1, "cannot write " + noFolder, false},
        {{}, 2, "", false},
        {{"KVTC/1-4400", good, good}, 2, "", false},
        {{"kvtc/1-4400", good}, 2, "unknown model \"kvtc/1-4400\"", false},
        {{"--help"}, 0, "Usage: romwright-inspect MODEL FILE [--dump OUT]", false},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(dump);
        std::vector<std::string> argv{programPath("romwright-inspect")};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        ChildProcess inspect;
        ProcessOptions merged;
        merged.mergeErrors = true;
        ASSERT_TRUE(inspect.start(argv, merged));
        EXPECT_EQ(inspect.waitExit(60000), c.exitCode);
        EXPECT_NE(inspect.output().find(c.output), std::string::npos) << inspect.output();
        EXPECT_EQ(readFile(dump), c.dumped ? std::string(bytes.begin(), bytes.end()) : "");
    }
}

}  // namespace
}  // namespace rwtest
