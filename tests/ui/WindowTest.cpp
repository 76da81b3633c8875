// The main window: what it shows from the settings and what its close command
// stores, the command line, and jobs as the operator drives them (the buttons
// before, during and after a job, the rate and COM port a job takes, Abort and Go
// during the wind-down, closing while running, a list with its pauses and its
// retry). Every test starts with an empty settings store, a private data folder,
// empty address lists, sounds off, prompts the test answers, and fake links that
// record what each job asked for, can be held shut, and refuse chosen devices.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTest>
#include <condition_variable>
#include <mutex>
#include <set>

#include "control/AddressLists.h"
#include "engine/Sounds.h"
#include "support/FakeLink.h"
#include "support/ReplyBuilder.h"
#include "support/TestEnv.h"
#include "ui/AppSettings.h"
#include "ui/DeviceListDialog.h"
#include "ui/ProgrammerDialog.h"
#include "ui/UserPrompts.h"

namespace rwtest {
namespace {

// The text a control shows: a combo box's current text, or the text property.
QString shown(QWidget* widget) {
    if (auto* combo = qobject_cast<QComboBox*>(widget)) return combo->currentText();
    return widget->property("text").toString();
}

// The texts of the enabled ones of Go, Browse ("[...]") and Abort.
QStringList enabledButtons(const rw::ProgrammerDialog& dialog) {
    QStringList texts;
    for (QPushButton* button : {dialog.goButton, dialog.browseButton, dialog.abortButton})
        if (button->isEnabled()) texts << button->text();
    return texts;
}

// What a job asked of its link.
struct LinkRequest {
    int linkKind, port, baudRate, deviceAddress;
    std::string host, model;
    bool operator==(const LinkRequest&) const = default;
};

class WindowTest : public ::testing::Test, public rw::UserPrompts {
  protected:
    void SetUp() override {
        TearDown();
        rw::setDataFolder(data_.str());
        rw::setSoundScheme("");
        rw::setUserPrompts(this);
        // One 16-byte record at 0x1000.
        hexPath_ = QString::fromStdString(
            writeFile(data_.path() / "image.hex",
                      ":10100000000102030405060708090A0B0C0D0E0F68\n:00000001FF\n")
                .string());
    }
    void TearDown() override {
        hold(false);
        rw::setUserPrompts(nullptr);
        rw::pendingQueue().clear();
        rw::failedList().clear();
        rw::openSettings()->clear();
    }
    void message(QWidget*, const QString& text) override { messages.push_back(text); }
    void runModal(QDialog& dialog) override { onModal(dialog); }

    void store(std::initializer_list<std::pair<QString, QVariant>> values) {
        for (const auto& [key, value] : values) rw::openSettings()->setValue(key, value);
    }
    QVariant stored(const QString& key) { return rw::openSettings()->value(key); }

    // A window for the command line `arguments` (output on, as the program runs any
    // command line).
    std::unique_ptr<rw::ProgrammerDialog> makeDialog(const QStringList& arguments = {},
                                                     bool windowless = false,
                                                     int queuePauseMs = 1000) {
        rw::DialogOptions options;
        options.arguments = arguments;
        options.windowless = windowless;
        options.commandLineOutput = !arguments.isEmpty();
        options.queuePauseMs = queuePauseMs;
        options.siblingServer = QStringLiteral("romwright-test-no-sibling-%1").arg(::getpid());
        options.services.makeLink = [this](rw::FlashJob& job) -> std::unique_ptr<rw::Transport> {
            std::unique_lock lock(mutex_);
            requests_.push_back({job.linkKind, job.port, job.baudRate, job.deviceAddress,
                                 job.hostName, job.model ? job.model->name : ""});
            released_.wait_for(lock, std::chrono::seconds(10), [this] { return !held_; });
            auto link = std::make_unique<FakeLink>(job.linkKind, job.port);
            const ReplyOptions answer{.status = uint8_t(refused.count(job.deviceAddress))};
            link->setResponder(
                [answer](const Bytes& frame) { return ReplyPieces{buildReply(frame, answer)}; });
            return link;
        };
        return std::make_unique<rw::ProgrammerDialog>(options);
    }
    // Links asked for from now on open only once released.
    void hold(bool held) {
        std::lock_guard lock(mutex_);
        held_ = held;
        released_.notify_all();
    }
    std::vector<LinkRequest> requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    // A shown window for jobs: KVTC/1-4255 (mode requests, no erase wait), a short
    // pause between queued addresses.
    rw::ProgrammerDialog& jobDialog() {
        store({{"Info/Device", 1}, {"Info/File", hexPath_}});
        jobDialog_ = makeDialog({}, false, 50);
        jobDialog_->show();
        return *jobDialog_;
    }

    TempDir data_;
    QString hexPath_;
    std::vector<QString> messages;
    std::function<void(QDialog&)> onModal = [](QDialog&) {};
    std::set<int> refused;  // device addresses that refuse programming
    std::unique_ptr<rw::ProgrammerDialog> jobDialog_;

    std::mutex mutex_;
    std::condition_variable released_;
    bool held_ = false;
    std::vector<LinkRequest> requests_;
};

bool idle(rw::ProgrammerDialog& dialog) {
    return dialog.controller().state() == rw::JobState::Idle &&
           !dialog.controller().workerOnRecord();
}

// The text of the checked link button, empty when none is.
QString checkedLink(rw::ProgrammerDialog& dialog) {
    for (QRadioButton* button : dialog.linkButtons)
        if (button->isChecked()) return button->text();
    return {};
}

// The checked link, COM port, model, address, file, status, host and CRC as shown.
QStringList texts(rw::ProgrammerDialog& dialog) {
    QStringList result = {checkedLink(dialog)};
    for (QWidget* control : std::initializer_list<QWidget*>{
             dialog.portList, dialog.modelList, dialog.addressEdit, dialog.fileEdit,
             dialog.statusLabel, dialog.hostPortEdit, dialog.crcLabel})
        result << shown(control);
    return result;
}

TEST_F(WindowTest, ShowsTheSettingsAndTheCloseCommandStoresTheControls) {
    {
        auto dialog = makeDialog();  // an empty settings file: the defaults
        EXPECT_TRUE(dialog->hostPortEdit->isHidden());
        EXPECT_EQ(texts(*dialog),
                  QStringList({"SERIAL 9600 bps", "COM1", "KVTC/1-4400", "101", "4255.hex",
                               "Load Binary Flash Archive...", "192.168.0.100:3001", "CRC-8"}));
        // The status line is the wide field under the history, the CRC the small one.
        EXPECT_GT(dialog->statusLabel->width(), 2 * dialog->crcLabel->width());
        EXPECT_EQ(enabledButtons(*dialog), QStringList({"Go", "[...]"}));
        dialog->linkButtons[3]->click();  // 38400 bit/s, kept over the network link
        dialog->linkButtons[4]->click();  // UDP/IP Network
        dialog->hostPortEdit->setText("127.0.0.2:4321");
        dialog->addressEdit->setText("65535");
        dialog->fileEdit->setText("/tmp/some.hex");
        dialog->modelList->setCurrentIndex(0);
        dialog->portList->setCurrentIndex(4);
        rw::setSoundScheme("Chimes");
        dialog->closeCommand();
    }
    QStringList values;
    for (const char* key : {"IP", "File", "Sounds", "Port", "Driver", "Address", "BaudRate"})
        values << stored(QStringLiteral("Info/") + key).toString();
    EXPECT_EQ(values, QStringList({"127.0.0.2:4321", "/tmp/some.hex", "Chimes", "4", "3", "65535",
                                   "38400"}));
    auto dialog = makeDialog();
    EXPECT_FALSE(dialog->hostPortEdit->isHidden());
    EXPECT_EQ(texts(*dialog),
              QStringList({"UDP/IP Network", "COM5", "KVTC/1-3000", "65535", "/tmp/some.hex",
                           "Load Binary Flash Archive...", "127.0.0.2:4321", "CRC-8"}));
}

// Accepted command lines start at once with what they name, the stored settings
// filling the rest; refused ones start nothing, with a window and without one.
TEST_F(WindowTest, CommandLineFillsTheControlsAndStartsOrRefuses) {
    const QStringList full = {"KVTC/2", "250", "38400", "@"};  // "@": the test's HEX file
    const char* kRange = "Please enter an integer between 0 and 65535.";
    const struct {
        QStringList arguments;
        int driver;
        const char* button;
        LinkRequest request;
        const char* refusal = nullptr;
        bool messageBox = false;  // with a window the refusal comes as a message
    } cases[] = {{full, 1, "SERIAL 38400 bps", {1, 1, 38400, 250, "", "KVTC/2-5140"}},
                 {full, 2, "TCP/IP Network", {2, 4000, 38400, 250, "127.0.0.2", "KVTC/2-5140"}},
                 {{"kvtc/1-4255"}, 1, "SERIAL 9600 bps", {1, 1, 9600, 77, "", "KVTC/1-4255"}},
                 {{QString(33, 'K'), "5", "9600", "@"}, 1, "", {}, "MODEL NAME TOO LONG"},
                 {{"KVTC/1-4255", "5", "9600", "/none/x.hex"}, 1, "", {}, "Invalid Binary File"},
                 {{"K", "70000", "9600", "@"}, 1, "", {}, kRange, true}};
    size_t started = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        store({{"Info/Driver", c.driver}, {"Info/Address", 77}});
        store({{"Info/IP", "127.0.0.2:4000"}, {"Info/File", hexPath_}});
        for (bool windowless : {false, true}) {
            if (windowless && c.refusal == nullptr) break;
            messages.clear();
            auto dialog =
                makeDialog(QStringList(c.arguments).replaceInStrings("@", hexPath_), windowless);
            if (c.refusal != nullptr) {
                const bool boxed = c.messageBox && !windowless;
                EXPECT_EQ(requests().size(), started);
                EXPECT_EQ(dialog->quitRequested(), windowless) << "a window stays open";
                EXPECT_EQ(dialog->exitCode(), windowless ? 1 : 0);
                EXPECT_EQ(messages,
                          boxed ? std::vector<QString>{c.refusal} : std::vector<QString>{});
                if (!windowless && !boxed) {  // the status line says why, in red
                    EXPECT_EQ(shown(dialog->statusLabel), c.refusal);
                    EXPECT_EQ(dialog->statusLabel->palette().color(QPalette::Window), Qt::red);
                }
                continue;
            }
            EXPECT_EQ(shown(dialog->modelList).toStdString(), c.request.model);
            EXPECT_EQ(checkedLink(*dialog), c.button);
            ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->quitRequested(); }));
            EXPECT_EQ(dialog->exitCode(), 0);
            ASSERT_EQ(requests().size(), ++started);
            EXPECT_EQ(requests().back(), c.request);
        }
    }
}

TEST_F(WindowTest, AbortThenGoDuringTheWindDownThenCloseWhileRunning) {
    auto& dialog = jobDialog();
    dialog.addressEdit->setText("42");
    dialog.linkButtons[2]->click();  // 19200 bit/s, not the stored rate
    dialog.portList->setCurrentIndex(3);
    hold(true);
    dialog.goButton->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return requests().size() == 1; }));
    EXPECT_EQ(requests()[0], (LinkRequest{rw::LINK_SERIAL, 4, 19200, 42, "", "KVTC/1-4255"}));
    EXPECT_EQ(enabledButtons(dialog), QStringList({"Abort"}));
    dialog.abortButton->click();               // the worker winds down, held before its link opens
    QTest::keyClick(&dialog, Qt::Key_Escape);  // a second Abort changes nothing
    EXPECT_EQ(shown(dialog.statusLabel), "Flash Download Aborted...");
    dialog.addressEdit->setText("4242");
    dialog.goButton->click();
    EXPECT_EQ(shown(dialog.statusLabel), "WAITING FOR THE LAST JOB TO END...");
    hold(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return requests().size() == 2 && idle(dialog); }));
    EXPECT_EQ(requests()[1].deviceAddress, 4242);
    const QString history = dialog.historyEdit->toPlainText();  // newest first
    EXPECT_LT(history.indexOf("COMPLETE"), history.indexOf("@ 4242..."));
    EXPECT_LT(history.indexOf("@ 4242..."), history.indexOf("@ 42..."));
    EXPECT_EQ(rw::failedList(), rw::AddressList{42});
    EXPECT_EQ(shown(dialog.statusLabel), "*** FLASH PROGRAMMING COMPLETE ***");
    EXPECT_EQ(enabledButtons(dialog), QStringList({"Go", "[...]"}));
    dialog.goButton->click();
    dialog.closeCommand();  // waits for the worker, then writes the settings
    EXPECT_EQ(dialog.job(), nullptr);
    EXPECT_EQ(std::make_pair(stored("Info/Address").toInt(), stored("Info/Port").toInt()),
              std::make_pair(4242, 3));
}

// A typed list (a duplicate, zero, letters and 65541, which is 5 again, dropped)
// of which two devices refuse: the pauses take no Enter, Go or device list, and
// the two failures come back as the retry list (40000 as the signed -25536).
TEST_F(WindowTest, AListRunsThroughItsPausesAndOffersItsFailuresForRetry) {
    auto& dialog = jobDialog();
    refused = {5, 40000};
    std::vector<QString> lists;  // caption and text of each device list shown
    onModal = [&](QDialog& modal) {
        auto& list = dynamic_cast<rw::DeviceListDialog&>(modal);
        lists.push_back(list.windowTitle() + ": " + list.addressEdit->toPlainText());
        list.addressEdit->setPlainText("5, 7\n7\nabc\n0\n65541\n40000");
        (lists.size() == 1 ? list.goButton : list.abortButton)->click();
    };
    dialog.deviceListButton->click();
    int pauses = 0;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        if (dialog.controller().state() == rw::JobState::QueuePause) {
            ++pauses;
            EXPECT_EQ(enabledButtons(dialog), QStringList({"Abort"}));
            QTest::keyClick(&dialog, Qt::Key_Return);
            dialog.goButton->click();
            dialog.deviceListButton->click();
        }
        return lists.size() == 2 && idle(dialog);
    }));
    EXPECT_GT(pauses, 0);
    std::vector<int> addresses;
    for (const LinkRequest& request : requests()) addresses.push_back(request.deviceAddress);
    EXPECT_EQ(addresses, (std::vector<int>{5, 7, 40000}));
    EXPECT_EQ(lists, (std::vector<QString>{"Flash Address List: ",
                                           "Retry 2 Failed Devices...: 5\n-25536\n"}));
    EXPECT_TRUE(rw::failedList().empty());
    EXPECT_EQ(enabledButtons(dialog), QStringList({"Go", "[...]"}));
}

}  // namespace
}  // namespace rwtest
