// Job control as the operator drives it in the window: the buttons and keys
// during a queued run, the rate and COM port a job takes, Abort and Go during the
// wind-down, closing while running.
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

#include "WindowTestSupport.h"
#include "engine/FlashJob.h"
#include "ui/DeviceListDialog.h"
#include "ui/DialogNotifier.h"

namespace rwtest {
namespace {

class JobWindowTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        writeSetting("Info/Device", 1);  // KVTC/1-4255: mode requests, no erase wait
        writeSetting("Info/File", QString::fromStdString(hexPath_));
        rw::DialogOptions options;
        options.queuePauseMs = 50;
        dialog = makeDialog({}, options);
        dialog->show();
    }
    void press(int key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(dialog.get(), &event);
    }
    bool idle() {
        return dialog->controller().state() == rw::JobState::Idle &&
               !dialog->controller().workerOnRecord();
    }
    // Go, Browse and the device list are live only while no job runs; Abort the other way.
    void expectButtons(bool live) {
        EXPECT_EQ(dialog->goButton->isEnabled(), !live);
        EXPECT_EQ(dialog->browseButton->isEnabled(), !live);
        EXPECT_EQ(dialog->abortButton->isEnabled(), live);
    }
    std::unique_ptr<rw::ProgrammerDialog> dialog;
};

TEST_F(JobWindowTest, EnterAndGoInTheQueuePauseAreNotTaken) {
    int lists = 0;
    prompts_.onModal = [&](QDialog& modal) {
        auto& list = dynamic_cast<rw::DeviceListDialog&>(modal);
        ++lists;
        list.addressEdit->setPlainText("5\n9");
        list.goButton->click();
    };
    dialog->deviceListButton->click();
    int pauses = 0;
    ASSERT_TRUE(waitFor([&] {
        if (dialog->controller().state() == rw::JobState::QueuePause) {
            ++pauses;
            expectButtons(true);
            press(Qt::Key_Return);
            dialog->goButton->click();
            dialog->deviceListButton->click();  // not taken either: no list opens
        }
        return factory_.addresses().size() == 2 && idle();
    }));
    EXPECT_GT(pauses, 0);
    EXPECT_EQ(factory_.addresses(), (std::vector<int>{5, 9}));
    EXPECT_EQ(lists, 1);
    EXPECT_EQ(shown(dialog->statusLabel), "*** FLASH PROGRAMMING COMPLETE ***");
    expectButtons(false);
}

TEST_F(JobWindowTest, AProgressLineIsTakenAsACopyWithoutWaitingForTheWindow) {
    rw::DialogNotifier notifier(*dialog);
    rw::FlashJob& job = *dialog->job();
    notifier.startServing();
    // Called on the window's own thread, a status the worker waited for could
    // never return: a progress line returns at once, the window shows it later.
    std::snprintf(job.statusText, sizeof job.statusText, "SENT  128 / 256  BYTES...");
    notifier.sendFlashStatus(job, 0, 0);
    std::snprintf(job.statusText, sizeof job.statusText, "the worker's next line");
    EXPECT_EQ(shown(dialog->statusLabel), "Load Binary Flash Archive...");
    EXPECT_TRUE(waitFor([&] { return shown(dialog->statusLabel) == "SENT  128 / 256  BYTES..."; }));
    notifier.stopServing();
}

// The job takes the rate button and the COM port chosen now, not the stored ones.
TEST_F(JobWindowTest, AbortThenGoDuringWindDownThenCloseWhileRunning) {
    factory_.silentOnWrites = true;
    dialog->addressEdit->setText("42");
    dialog->linkButtons[2]->click();  // 19200 bit/s
    dialog->portList->setCurrentIndex(3);
    dialog->goButton->click();
    ASSERT_TRUE(waitFor([&] { return dialog->job()->imageLength > 0; }));
    expectButtons(true);
    {
        std::lock_guard lock(factory_.mutex);
        EXPECT_EQ(std::tie(factory_.requests[0].linkKind, factory_.requests[0].port,
                           factory_.requests[0].baudRate),
                  std::make_tuple(rw::LINK_SERIAL, 4, 19200));
    }
    GateLink* link = factory_.link();
    link->setArmed(true);
    dialog->abortButton->click();  // the worker winds down, held at the gate
    EXPECT_EQ(shown(dialog->statusLabel), "Flash Download Aborted...");
    ASSERT_TRUE(waitFor([&] { return link->holding.load(); }));
    press(Qt::Key_Escape);  // a second Abort changes nothing
    EXPECT_EQ(shown(dialog->statusLabel), "Flash Download Aborted...");
    dialog->addressEdit->setText("4242");
    dialog->goButton->click();
    EXPECT_EQ(shown(dialog->statusLabel), "WAITING FOR THE LAST JOB TO END...");
    EXPECT_EQ(factory_.addresses(), std::vector<int>{42});
    link->setArmed(false);
    ASSERT_TRUE(waitFor([&] { return factory_.addresses().size() == 2; }));
    EXPECT_EQ(failedList(), AddressList{42});
    ASSERT_TRUE(waitFor([&] { return dialog->job()->imageLength > 0; }));
    dialog->closeCommand();  // waits for the worker, then writes the settings
    EXPECT_EQ(dialog->job(), nullptr);
    EXPECT_EQ(readSetting("Info/Address").toInt(), 4242);
    EXPECT_EQ(readSetting("Info/Port").toInt(), 3);
    EXPECT_EQ(failedList(), AddressList{42});
    EXPECT_EQ(factory_.addresses(), (std::vector<int>{42, 4242}));
}

}  // namespace
}  // namespace rwtest
