// Batch runs through the main dialog: the device list feeding the queue, the
// queue chaining through each job's completion, the retry dialog, and the sound
// icon after a menu choice. Devices are fake links; time is a fake clock.
#include <QAction>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>

#include "WindowTestSupport.h"
#include "fakes/FakeClock.h"
#include "ui/DeviceListDialog.h"
#include "ui/SoundIconLabel.h"

namespace {

using wintest::waitFor;

// The main dialog's "Device List..." button (control 1022).
QPushButton* deviceListButton(ProgrammerDialog& dialog) {
    auto* button = dialog.findChild<QPushButton*>("id1022");
    EXPECT_NE(button, nullptr);
    return button;
}

class BatchDialogTest : public wintest::WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        writeSetting("Info/Driver", rw::LINK_UDP);
        writeSetting("Info/IP", "127.0.0.2:3001");
        writeSetting("Info/File", QString::fromStdString(hexPath_));
        writeSetting("Info/Device", 1);
        writeSetting("Info/Address", 101);
    }

    std::unique_ptr<ProgrammerDialog> makeBatchDialog(int queuePauseMs = 0) {
        DialogOptions options;
        options.queuePauseMs = queuePauseMs;
        return makeDialog({}, options);
    }

    // Answers every device list: records caption and text, then types text
    // (when given) and presses Go or Abort.
    void answerLists(std::vector<std::pair<bool, QString>> answers) {
        prompts_.onModal = [this, answers](QDialog& dialog) {
            auto* list = qobject_cast<DeviceListDialog*>(&dialog);
            ASSERT_NE(list, nullptr);
            captions.push_back(list->windowTitle());
            texts.push_back(list->addressText);
            const size_t index = captions.size() - 1;
            if (index >= answers.size()) {
                list->abortButton()->click();
                return;
            }
            if (!answers[index].second.isNull())
                list->addressEdit()->setPlainText(answers[index].second);
            (answers[index].first ? list->goButton() : list->abortButton())->click();
        };
    }

    std::vector<int> requestedAddresses() {
        std::lock_guard lock(factory_.mutex);
        std::vector<int> addresses;
        for (const auto& request : factory_.requests) addresses.push_back(request.deviceAddress);
        return addresses;
    }

    bool runSettled(ProgrammerDialog& dialog) {
        return waitFor([&] {
            return !dialog.isJobRunning() && pendingQueue().empty() && !dialog.goDeferred();
        });
    }

    rwtest::FakeClock clock_;
    rwtest::ScopedEngineClock scopedClock_{clock_};
    std::vector<QString> captions, texts;
};

TEST_F(BatchDialogTest, ListWhileIdleProgramsEachAddressInTurn) {
    auto dialog = makeBatchDialog();
    answerLists({{true, "12, 7\n12\n0\nabc\n65548\n9"}});
    deviceListButton(*dialog)->click();
    ASSERT_TRUE(waitFor([&] { return factory_.requestCount() == 3; }));
    ASSERT_TRUE(runSettled(*dialog));
    EXPECT_EQ(requestedAddresses(), (std::vector<int>{12, 7, 9}));
    EXPECT_EQ(captions, std::vector<QString>{"Flash Address List"});
    EXPECT_EQ(dialog->addressValue, 9);
    EXPECT_TRUE(failedList().empty());
}

TEST_F(BatchDialogTest, EmptyListStartsNothing) {
    auto dialog = makeBatchDialog();
    failedList() = {44};
    answerLists({{true, ""}});
    dialog->runDeviceList();
    wintest::pumpEvents(50);
    EXPECT_EQ(factory_.requestCount(), 0u);
    EXPECT_TRUE(failedList().empty());
    EXPECT_EQ(dialog->addressValue, 101);
}

TEST_F(BatchDialogTest, ListConfirmedDuringAJobWaitsForItsCompletion) {
    auto dialog = makeBatchDialog();
    dialog->onOk();  // address 101
    ASSERT_TRUE(waitFor([&] { return factory_.link() != nullptr; }));
    factory_.link()->arm();
    ASSERT_TRUE(waitFor([&] { return factory_.link()->holding(); }));

    answerLists({{true, "12\n7"}});
    deviceListButton(*dialog)->click();
    wintest::pumpEvents(50);
    // The running worker's record keeps its address; nothing else started.
    EXPECT_EQ(dialog->job()->deviceAddress, 101);
    EXPECT_EQ(factory_.requestCount(), 1u);
    EXPECT_EQ(pendingQueue(), (AddressList{12, 7}));

    factory_.link()->open();
    ASSERT_TRUE(waitFor([&] { return factory_.requestCount() == 3; }));
    ASSERT_TRUE(runSettled(*dialog));
    EXPECT_EQ(requestedAddresses(), (std::vector<int>{101, 12, 7}));
}

TEST_F(BatchDialogTest, TwoFailuresOfferTheRetryDialog) {
    factory_.device = wintest::Device::Unreachable;
    auto dialog = makeBatchDialog();
    // First list: 5, 9 and 40000; all fail. Retry: Go as offered; all fail again.
    // Second retry: Abort, which drops the failures.
    answerLists({{true, "5\n9\n40000"}, {true, QString()}, {false, QString()}});
    dialog->runDeviceList();
    ASSERT_TRUE(waitFor([&] { return captions.size() == 3; }));
    ASSERT_TRUE(runSettled(*dialog));
    EXPECT_EQ(captions, (std::vector<QString>{"Flash Address List", "Retry 3 Failed Devices...",
                                              "Retry 3 Failed Devices..."}));
    EXPECT_EQ(texts[1], "5\r\n9\r\n-25536\r\n");
    EXPECT_EQ(requestedAddresses(), (std::vector<int>{5, 9, 40000, 5, 9, 40000}));
    EXPECT_TRUE(failedList().empty());
    EXPECT_TRUE(pendingQueue().empty());
}

TEST_F(BatchDialogTest, SingleFailureOpensNoRetryAndTheNextListForgetsIt) {
    factory_.device = wintest::Device::Unreachable;
    auto dialog = makeBatchDialog();
    dialog->onOk();
    ASSERT_TRUE(waitFor([&] { return failedList() == AddressList{101}; }));
    ASSERT_TRUE(runSettled(*dialog));
    EXPECT_EQ(prompts_.modalCount, 0);

    answerLists({{false, QString()}});
    dialog->runDeviceList();
    EXPECT_EQ(captions, std::vector<QString>{"Flash Address List"});
    EXPECT_EQ(texts[0], "");
    EXPECT_EQ(failedList(), AddressList{101});  // Abort in normal mode keeps it
}

TEST_F(BatchDialogTest, EscapeOnTheSoundMenuTurnsSoundsOffAndShowsTheOffIcon) {
    std::filesystem::create_directories(data_.path() / "Sounds" / "Chimes");
    rw::setSoundScheme("Chimes");
    auto dialog = makeBatchDialog();
    wintest::pumpEvents(20);
    const QImage on = QImage(":/bitmaps/146.png").convertToFormat(QImage::Format_RGB32);
    const QImage off = QImage(":/bitmaps/147.png").convertToFormat(QImage::Format_RGB32);
    auto shown = [&] {
        return dialog->soundIcon->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
    };
    EXPECT_EQ(shown(), on);

    int menus = 0;
    prompts_.menuAnswer = [&](QMenu&) -> QAction* {
        ++menus;
        return nullptr;  // Escape
    };
    emit dialog->soundIcon->clicked();
    ASSERT_TRUE(waitFor([&] { return shown() == off; }));
    EXPECT_EQ(menus, 1);
    EXPECT_EQ(rw::soundScheme(), "");

    prompts_.menuAnswer = [&](QMenu& menu) -> QAction* {
        ++menus;
        return menu.actions().front();  // Chimes
    };
    dialog->showSoundMenu();
    ASSERT_TRUE(waitFor([&] { return shown() == on; }));
    EXPECT_EQ(rw::soundScheme(), "Chimes");
}

TEST_F(BatchDialogTest, NoSoundsFolderLeavesTheIconAlone) {
    rw::setSoundScheme("Chimes");
    auto dialog = makeBatchDialog();
    int menus = 0;
    prompts_.menuAnswer = [&](QMenu&) -> QAction* {
        ++menus;
        return nullptr;
    };
    dialog->showSoundMenu();
    wintest::pumpEvents(20);
    EXPECT_EQ(menus, 0);
    EXPECT_EQ(rw::soundScheme(), "Chimes");
}

}  // namespace
