// A batch run through the main dialog against one romwright-sim on 127.0.0.2
// over UDP: one device accepts, one refuses permission, and one address answers
// nowhere. The run must end in the retry dialog holding exactly the two failed
// addresses.
#include <QPlainTextEdit>
#include <QPushButton>

#include "WindowTestSupport.h"
#include "fakes/FakeClock.h"
#include "sequence/SimProcess.h"
#include "engine/Protocol.h"
#include "ui/DeviceListDialog.h"

namespace {

using wintest::waitFor;

constexpr int kAccepting = 21;
constexpr int kRefusing = 22;
constexpr int kAbsent = 23;

// Starts a simulator for model KVTC/1-4255 on 127.0.0.2; its port, or 0.
int startSim(rwtest::SimProcess& sim, std::vector<std::string> extra) {
    const int port = rwtest::freeLoopbackPort();
    std::vector<std::string> args{"--model", "KVTC/1-4255", "--erase-ms",
                                  "0",       "--udp",       "127.0.0.2:" + std::to_string(port)};
    args.insert(args.end(), extra.begin(), extra.end());
    if (!sim.start(std::string(ROMWRIGHT_BIN_DIR) + "/romwright-sim", args)) return 0;
    return sim.waitForLine("127.0.0.2", 5000) ? port : 0;
}

class BatchSimTest : public wintest::WindowTest {};

// The absent device would keep every try waiting the full reply time-out.
struct ShortReplyTimeout {
    ShortReplyTimeout() { rw::setModeReplyTimeoutMs(150); }
    ~ShortReplyTimeout() { rw::setModeReplyTimeoutMs(0); }
};

TEST_F(BatchSimTest, AbsentAndRefusingDevicesEndInTheRetryDialog) {
    ShortReplyTimeout shortTimeout;
    rwtest::SimProcess sim;
    const int port = startSim(sim, {"--address", std::to_string(kAccepting), "--address",
                                    std::to_string(kRefusing), "--refuse-permission-for",
                                    std::to_string(kRefusing)});
    ASSERT_NE(port, 0);

    writeSetting("Info/Driver", rw::LINK_UDP);
    writeSetting("Info/IP", QStringLiteral("127.0.0.2:%1").arg(port));
    writeSetting("Info/File", QString::fromStdString(hexPath_));
    writeSetting("Info/Device", 1);
    writeSetting("Info/Address", kAccepting);

    std::vector<QString> captions, texts;
    prompts_.onModal = [&](QDialog& dialog) {
        auto* list = qobject_cast<DeviceListDialog*>(&dialog);
        ASSERT_NE(list, nullptr);
        captions.push_back(list->windowTitle());
        texts.push_back(list->addressText);
        if (captions.size() == 1) {
            list->addressEdit()->setPlainText(
                QStringLiteral("%1\n%2\n%3").arg(kAccepting).arg(kRefusing).arg(kAbsent));
            list->goButton()->click();
        } else {
            list->abortButton()->click();
        }
    };

    rwtest::FakeClock clock;  // the engine's pauses; the links wait in real time
    rwtest::ScopedEngineClock scoped(clock);
    DialogOptions options;
    options.queuePauseMs = 100;
    options.siblingServer = QStringLiteral("romwright-test-no-sibling-%1").arg(::getpid());
    auto dialog = std::make_unique<ProgrammerDialog>(options);  // the real links
    dialog->runDeviceList();

    ASSERT_TRUE(waitFor([&] { return captions.size() >= 2; }, 120000))
        << "lists " << captions.size() << ", address " << dialog->addressValue << ", history:\n"
        << dialog->historyText.toStdString();
    ASSERT_TRUE(waitFor([&] { return !dialog->isJobRunning(); }));

    EXPECT_EQ(captions, (std::vector<QString>{"Flash Address List", "Retry 2 Failed Devices..."}));
    EXPECT_EQ(texts[1], QStringLiteral("%1\r\n%2\r\n").arg(kRefusing).arg(kAbsent));
    EXPECT_TRUE(failedList().empty());  // Abort in retry mode dropped them
    EXPECT_TRUE(pendingQueue().empty());
}

}  // namespace
