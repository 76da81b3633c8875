// Batch runs through the main dialog: the device list feeding the queue, the
// queue chaining through each job's completion, the retry dialog, and the sound
// icon after a menu choice. Devices are fake links; time is a fake clock.
#include <QAction>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>

#include "WindowTestSupport.h"
#include "ui/DeviceListDialog.h"
#include "ui/SoundIconLabel.h"

namespace {

using wintest::waitFor;

class BatchDialogTest : public wintest::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        storeJobSettings(rw::LINK_UDP);
        writeSetting("Info/IP", "127.0.0.2:3001");
        writeSetting("Info/Address", 101);
        DialogOptions options;
        options.queuePauseMs = 0;
        dialog_ = makeDialog({}, options);
    }
    void TearDown() override {
        dialog_.reset();
        WindowTest::TearDown();
    }

    // Answers the device lists in turn: types the text (unless null) and presses
    // Go or Abort; lists beyond the answers are aborted.
    void answerLists(std::vector<std::pair<bool, QString>> answers) {
        prompts_.onModal = [this, answers](QDialog& modal) {
            auto& list = dynamic_cast<DeviceListDialog&>(modal);
            captions.push_back(list.windowTitle());
            texts.push_back(list.addressText);
            const auto [go, text] = captions.size() <= answers.size()
                                        ? answers[captions.size() - 1]
                                        : std::pair{false, QString()};
            if (!text.isNull()) list.addressEdit()->setPlainText(text);
            (go ? list.goButton() : list.abortButton())->click();
        };
    }
    bool runSettled() {
        auto settled = [&] {
            return !dialog_->isJobRunning() && pendingQueue().empty() && !dialog_->goDeferred();
        };
        if (!waitFor(settled)) return false;
        QCoreApplication::processEvents();  // the finished worker's posted completion
        return waitFor(settled);
    }

    rwtest::FakeClock clock_;
    rwtest::ScopedEngineClock scopedClock_{clock_};
    std::unique_ptr<ProgrammerDialog> dialog_;
    std::vector<QString> captions, texts;
};

TEST_F(BatchDialogTest, ListConfirmedDuringAJobWaitsForItsCompletion) {
    dialog_->onOk();  // address 101
    ASSERT_TRUE(waitFor([&] { return factory_.link() != nullptr; }));
    factory_.link()->setArmed(true);
    ASSERT_TRUE(waitFor([&] { return factory_.link()->holding.load(); }));
    answerLists({{true, "12\n7"}});
    dialog_->runDeviceList();
    wintest::pumpEvents(50);
    // The running worker's record keeps its address; nothing else started.
    EXPECT_EQ(dialog_->job()->deviceAddress, 101);
    EXPECT_EQ(factory_.requestCount(), 1u);
    EXPECT_EQ(pendingQueue(), (AddressList{12, 7}));
    factory_.link()->setArmed(false);
    ASSERT_TRUE(waitFor([&] { return factory_.requestCount() == 3; }));
    ASSERT_TRUE(runSettled());
    EXPECT_EQ(factory_.addresses(), (std::vector<int>{101, 12, 7}));
}

TEST_F(BatchDialogTest, ListProgramsEachAddressInTurnAndTwoFailuresOfferTheRetry) {
    factory_.device = wintest::Device::Unreachable;
    // The list's three usable addresses fail; Go on the retry as offered fails
    // them again; Abort on the second retry drops the failures.
    answerLists({{true, "5, 9\n5\n0\nabc\n40000"}, {true, QString()}, {false, QString()}});
    dialog_->findChild<QPushButton*>("id1022")->click();  // "Device List..."
    ASSERT_TRUE(waitFor([&] { return captions.size() == 3; }));
    ASSERT_TRUE(runSettled());
    EXPECT_EQ(captions, (std::vector<QString>{"Flash Address List", "Retry 3 Failed Devices...",
                                              "Retry 3 Failed Devices..."}));
    EXPECT_EQ(texts[1], "5\r\n9\r\n-25536\r\n");
    EXPECT_EQ(factory_.addresses(), (std::vector<int>{5, 9, 40000, 5, 9, 40000}));
    EXPECT_EQ(dialog_->addressValue, 40000);
    EXPECT_TRUE(failedList().empty());
}

TEST_F(BatchDialogTest, SingleFailureIsListedOnceOpensNoRetryAndOnlyGoOnTheNextListForgetsIt) {
    factory_.device = wintest::Device::Unreachable;
    dialog_->onOk();
    ASSERT_TRUE(waitFor([&] { return failedList() == AddressList{101}; }));
    ASSERT_TRUE(runSettled());
    dialog_->onOk();  // fails again: still listed once, so still no retry
    ASSERT_TRUE(waitFor([&] { return factory_.requestCount() == 2; }));
    ASSERT_TRUE(runSettled());
    EXPECT_EQ(failedList(), AddressList{101});
    EXPECT_EQ(prompts_.modalCount, 0);
    answerLists({{false, QString()}, {true, ""}});
    dialog_->runDeviceList();
    EXPECT_EQ(captions, std::vector<QString>{"Flash Address List"});  // not a retry
    EXPECT_EQ(failedList(), AddressList{101});  // Abort in normal mode keeps it
    dialog_->runDeviceList();                   // Go on an empty list
    wintest::pumpEvents(50);
    EXPECT_EQ(factory_.requestCount(), 2u);
    EXPECT_TRUE(failedList().empty());
    EXPECT_EQ(dialog_->addressValue, 101);
}

TEST_F(BatchDialogTest, EscapeOnTheSoundMenuTurnsSoundsOffAndShowsTheOffIcon) {
    std::filesystem::create_directories(data_.path() / "Sounds" / "Chimes");
    rw::setSoundScheme("Chimes");
    dialog_->postSoundChanged();
    auto icon = [](const char* path) { return QImage(path).convertToFormat(QImage::Format_RGB32); };
    auto shownIcon = [&] {
        return dialog_->soundIcon->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
    };
    ASSERT_TRUE(waitFor([&] { return shownIcon() == icon(":/bitmaps/146.png"); }));
    emit dialog_->soundIcon->clicked();  // the menu is answered with Escape
    ASSERT_TRUE(waitFor([&] { return shownIcon() == icon(":/bitmaps/147.png"); }));
    EXPECT_EQ(prompts_.menus, 1);
    EXPECT_EQ(rw::soundScheme(), "");
    prompts_.menuAnswer = [](QMenu& menu) { return menu.actions().front(); };  // Chimes
    dialog_->showSoundMenu();
    ASSERT_TRUE(waitFor([&] { return shownIcon() == icon(":/bitmaps/146.png"); }));
    EXPECT_EQ(rw::soundScheme(), "Chimes");
}

}  // namespace
