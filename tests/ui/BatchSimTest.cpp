// A batch run against one romwright-sim on 127.0.0.2 over UDP: one device accepts,
// one refuses permission, one address answers nowhere. The run must end in the
// retry dialog holding exactly the two failures.
#include <QPlainTextEdit>
#include <QPushButton>

#include "WindowTestSupport.h"
#include "engine/Protocol.h"
#include "support/ChildProcess.h"
#include "ui/DeviceListDialog.h"

namespace rwtest {
namespace {

using BatchSimTest = WindowTest;

TEST_F(BatchSimTest, AbsentAndRefusingDevicesEndInTheRetryDialog) {
    const int accepting = 21, refusing = 22, absent = 23;
    ChildProcess sim;
    const std::optional<std::string> endpoint = startSimulator(
        sim, {"--model", "KVTC/1-4255", "--erase-ms", "0", "--udp", "127.0.0.2:0", "--address",
              std::to_string(accepting), "--address", std::to_string(refusing),
              "--refuse-permission-for", std::to_string(refusing)});
    ASSERT_TRUE(endpoint);

    writeSetting("Info/Driver", rw::LINK_UDP);
    writeSetting("Info/Device", 1);
    writeSetting("Info/File", QString::fromStdString(hexPath_));
    writeSetting("Info/IP", QString::fromStdString(*endpoint));
    writeSetting("Info/Address", accepting);
    std::vector<QString> captions, texts;
    prompts_.onModal = [&](QDialog& modal) {
        auto& list = dynamic_cast<rw::DeviceListDialog&>(modal);
        captions.push_back(list.windowTitle());
        texts.push_back(list.addressText);
        if (captions.size() == 1)
            list.addressEdit->setPlainText(
                QStringLiteral("%1\n%2\n%3").arg(accepting).arg(refusing).arg(absent));
        (captions.size() == 1 ? list.goButton : list.abortButton)->click();
    };

    FakeClock clock;  // the engine's pauses; the links wait in real time
    rw::DialogOptions options;
    options.services.clock = &clock;
    options.services.modeReplyTimeoutMs = 150;  // the absent device: no full reply wait
    options.queuePauseMs = 100;
    options.siblingServer = QStringLiteral("romwright-test-no-sibling-%1").arg(::getpid());
    auto dialog = std::make_unique<rw::ProgrammerDialog>(options);  // the real links
    dialog->runDeviceList();

    ASSERT_TRUE(waitFor([&] { return captions.size() >= 2; }, 120000))
        << "lists " << captions.size() << ", history:\n"
        << dialog->historyText.toStdString();
    ASSERT_TRUE(waitFor([&] {
        return dialog->controller().state() == rw::JobState::Idle &&
               !dialog->controller().workerOnRecord();
    }));
    EXPECT_EQ(captions, (std::vector<QString>{"Flash Address List", "Retry 2 Failed Devices..."}));
    EXPECT_EQ(texts[1], QStringLiteral("%1\r\n%2\r\n").arg(refusing).arg(absent));
    EXPECT_TRUE(failedList().empty());  // Abort in retry mode dropped them
    EXPECT_TRUE(pendingQueue().empty());
}

}  // namespace
}  // namespace rwtest
