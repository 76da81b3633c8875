// Command-line mode's own behaviour: the printed status lines, the stall limit,
// the signal abort, and the sibling notice when the window goes away.
#include <QLocalServer>
#include <QLocalSocket>
#include <cstdio>

#include "WindowTestSupport.h"
#include "ui/CliReporter.h"

using namespace wintest;

namespace {

TEST(CliReporter, PrintsStatusLinesAndOnATerminalRedrawsOneProgressLine) {
    for (bool terminal : {true, false}) {
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        {
            CliReporter reporter(out, err, terminal);
            reporter.statusLogged("Mon  FLASHING KVTC/1-4255 @ 5...");
            reporter.progress(128, 512, 0.25);
            reporter.progress(512, 512, 1.0);
            reporter.statusLogged("Mon  *** FLASH PROGRAMMING COMPLETE ***");
            reporter.refusal("Invalid Binary File: x.hex");
        }
        auto readAll = [](std::FILE* file) {
            std::string text(static_cast<size_t>(std::ftell(file)), '\0');
            std::rewind(file);
            text.resize(std::fread(text.data(), 1, text.size(), file));
            std::fclose(file);
            return text;
        };
        EXPECT_EQ(readAll(out),
                  "Mon  FLASHING KVTC/1-4255 @ 5...\nMon  *** FLASH PROGRAMMING COMPLETE ***\n");
        const std::string progress = readAll(err);
        EXPECT_EQ(progress.find("\r128 / 512 bytes   25%  0.2 s") != std::string::npos, terminal);
        EXPECT_EQ(progress.find("\r512 / 512 bytes  100%  1.0 s") != std::string::npos, terminal);
        EXPECT_NE(progress.find("romwright: Invalid Binary File: x.hex\n"), std::string::npos);
    }
}

class CommandLineModeTest : public WindowTest {
protected:
    std::unique_ptr<ProgrammerDialog> startSilentJob(rwtest::FakeClock* clock) {
        factory_.device = Device::SilentOnWrites;
        DialogOptions options;
        options.commandLineOutput = true;
        options.clock = clock;
        return makeDialog({"KVTC/1-4255", "5", "38400", QString::fromStdString(hexPath_)}, options);
    }
};

TEST_F(CommandLineModeTest, StallLimitAbortsTheJobAsFailed) {
    writeSetting("Info/StallSeconds", 2);
    rwtest::FakeClock clock(1'000'000);
    auto dialog = startSilentJob(&clock);
    ASSERT_TRUE(waitFor([&] { return dialog->inWritePhase(); }));
    clock.advanceMs(1900);
    dialog->checkStall();
    EXPECT_EQ(dialog->job()->running.load(), 1);
    clock.advanceMs(200);
    dialog->checkStall();
    EXPECT_EQ(dialog->statusLine, "Flash Download Aborted...");
    ASSERT_TRUE(waitFor([&] { return dialog->quitRequested(); }));
    EXPECT_EQ(dialog->exitCode(), 1);
    EXPECT_NE(dialog->historyText.indexOf("NO BLOCK WRITTEN FOR 2 SECONDS"), -1);
    EXPECT_NE(logText().find("NO BLOCK WRITTEN FOR 2 SECONDS"), std::string::npos);
}

TEST_F(CommandLineModeTest, SignalQuitsAsFailedOnceTheJobHasWoundDown) {
    auto idle = makeDialog({"KVTC/1-4255", "5", "38400", "/no/such.hex"});
    ASSERT_FALSE(idle->quitRequested());  // with a window a refused start stays open
    idle->commandLineAbort();
    EXPECT_TRUE(idle->quitRequested());  // no job: at once
    EXPECT_EQ(idle->exitCode(), 1);

    auto dialog = startSilentJob(nullptr);
    ASSERT_TRUE(waitFor([&] { return dialog->job()->imageLength > 0; }));
    dialog->commandLineAbort();
    EXPECT_FALSE(dialog->quitRequested());  // the worker winds down first
    ASSERT_TRUE(waitFor([&] { return dialog->quitRequested(); }));
    EXPECT_EQ(dialog->exitCode(), 1);
    EXPECT_TRUE(waitFor([&] { return !dialog->isJobRunning(); }));
}

TEST_F(CommandLineModeTest, SiblingHearsWhenTheWindowGoesAway) {
    const QString name = QStringLiteral("romwright-test-sibling-%1").arg(::getpid());
    QLocalServer::removeServer(name);
    QLocalServer server;
    ASSERT_TRUE(server.listen(name));
    DialogOptions options;
    options.siblingServer = name;
    makeDialog({}, options).reset();
    ASSERT_TRUE(server.waitForNewConnection(2000));
    QLocalSocket* socket = server.nextPendingConnection();
    ASSERT_NE(socket, nullptr);
    ASSERT_TRUE(
        waitFor([&] { return socket->bytesAvailable() >= 10 || socket->waitForReadyRead(10); }));
    EXPECT_EQ(socket->readAll(), QByteArray("32768 1 0\n"));
}

}  // namespace
