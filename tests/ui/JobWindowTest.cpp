// Job control as the operator drives it in the window: keys and buttons during a
// queued run, the retry list, Abort and Escape at the edges of a job, closing.
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

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
    }
    std::unique_ptr<rw::ProgrammerDialog> makeWindow() {
        rw::DialogOptions options;
        options.queuePauseMs = 50;
        auto dialog = makeDialog({}, options);
        dialog->show();
        return dialog;
    }
    static void press(QWidget& dialog, int key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(&dialog, &event);
    }
    // Answers the device lists in turn: each entry is the text to type (null:
    // keep what is shown) and whether Go is pressed; later lists are aborted.
    void answerLists(std::vector<std::pair<const char*, bool>> answers) {
        prompts_.onModal = [this, answers](QDialog& modal) {
            auto& list = dynamic_cast<rw::DeviceListDialog&>(modal);
            captions.push_back(list.windowTitle());
            const size_t at = captions.size() - 1;
            const bool go = at < answers.size() && answers[at].second;
            if (at < answers.size() && answers[at].first != nullptr)
                list.addressEdit->setPlainText(answers[at].first);
            (go ? list.goButton : list.abortButton)->click();
        };
    }
    bool idle(rw::ProgrammerDialog& dialog) {
        return dialog.controller().state() == rw::JobState::Idle &&
               !dialog.controller().workerOnRecord();
    }
    std::vector<QString> captions;
};

TEST_F(JobWindowTest, EnterAndGoInTheQueuePauseAreNotTaken) {
    auto dialog = makeWindow();
    answerLists({{"5\n9", true}});
    dialog->deviceListButton->click();
    int pauses = 0;
    ASSERT_TRUE(waitFor([&] {
        if (dialog->controller().state() == rw::JobState::QueuePause) {
            ++pauses;
            EXPECT_FALSE(dialog->goButton->isEnabled());
            EXPECT_TRUE(dialog->abortButton->isEnabled());
            press(*dialog, Qt::Key_Return);
            dialog->goButton->click();
            dialog->deviceListButton->click();  // not taken either: no list opens
        }
        return factory_.addresses().size() == 2 && idle(*dialog);
    }));
    EXPECT_GT(pauses, 0);
    EXPECT_EQ(factory_.addresses(), (std::vector<int>{5, 9}));
    EXPECT_EQ(captions.size(), 1u);
    EXPECT_EQ(shown(dialog->statusLabel), "*** FLASH PROGRAMMING COMPLETE ***");
}

TEST_F(JobWindowTest, ARetryListConfirmedWhileTheLinkStillClosesStarts) {
    factory_.refusing = {5, 9};
    factory_.closeMs = 300;
    auto dialog = makeWindow();
    answerLists({{"5\n9", true}, {nullptr, true}});
    dialog->deviceListButton->click();
    ASSERT_TRUE(waitFor([&] { return captions.size() == 3 && idle(*dialog); }, 10000));
    EXPECT_EQ(captions, (std::vector<QString>{"Flash Address List", "Retry 2 Failed Devices...",
                                              "Retry 2 Failed Devices..."}));
    EXPECT_EQ(factory_.addresses(), (std::vector<int>{5, 9, 5, 9}));
}

TEST_F(JobWindowTest, AProgressLineIsTakenAsACopyWithoutWaitingForTheWindow) {
    auto dialog = makeWindow();
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

TEST_F(JobWindowTest, EscapeDuringTheFinalModeOffLeavesTheJobVerified) {
    factory_.holdModeOff = true;
    auto dialog = makeWindow();
    dialog->goButton->click();
    ASSERT_TRUE(waitFor([&] { return factory_.link() != nullptr && factory_.link()->holding; }));
    EXPECT_EQ(shown(dialog->statusLabel), "*** FLASH PROGRAMMING COMPLETE ***");
    EXPECT_FALSE(dialog->abortButton->isEnabled());
    press(*dialog, Qt::Key_Escape);
    factory_.link()->setArmed(false);
    ASSERT_TRUE(waitFor([&] { return idle(*dialog); }));
    EXPECT_TRUE(failedList().empty());
    EXPECT_EQ(dialog->job()->failed, 0);
    EXPECT_EQ(shown(dialog->statusLabel), "*** FLASH PROGRAMMING COMPLETE ***");
}

TEST_F(JobWindowTest, AbortThenGoDuringWindDownThenCloseWhileRunning) {
    factory_.silentOnWrites = true;
    auto dialog = makeWindow();
    dialog->addressEdit->setText("42");
    dialog->goButton->click();
    ASSERT_TRUE(waitFor([&] { return dialog->job()->imageLength > 0; }));
    GateLink* link = factory_.link();
    link->setArmed(true);
    dialog->abortButton->click();  // the worker winds down, held at the gate
    EXPECT_EQ(shown(dialog->statusLabel), "Flash Download Aborted...");
    ASSERT_TRUE(waitFor([&] { return link->holding.load(); }));
    press(*dialog, Qt::Key_Escape);  // a second Abort changes nothing
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
    EXPECT_EQ(failedList(), AddressList{42});
    EXPECT_EQ(factory_.addresses(), (std::vector<int>{42, 4242}));
}

}  // namespace
}  // namespace rwtest
