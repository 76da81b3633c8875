// The main window through its public behaviour: settings, command line, browse,
// Go, Abort, the status display and the close command.
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <filesystem>

#include "WindowTestSupport.h"

using namespace wintest;

namespace {

// The id of the checked link button, 0 when none is.
int checkedLink(QWidget& dialog) {
    for (int id : {1023, 1013, 1014, 1015, 1018, 1019}) {
        auto* button = dialog.findChild<QRadioButton*>(QStringLiteral("id%1").arg(id));
        if (button != nullptr && button->isChecked()) return id;
    }
    return 0;
}

bool statusIsRed(QWidget& dialog) {
    const QPalette palette = dialog.findChild<QLabel*>("id1007")->palette();
    return dialog.findChild<QLabel*>("id1007")->autoFillBackground() &&
           palette.color(QPalette::Window) == QColor(255, 0, 0) &&
           palette.color(QPalette::WindowText) == QColor(255, 255, 255);
}

void setEdit(QWidget& dialog, int id, const QString& text) {
    dialog.findChild<QLineEdit*>(QStringLiteral("id%1").arg(id))->setText(text);
}

class MainWindowTest : public WindowTest {
protected:
    QStringList withHex(QStringList arguments) {
        return arguments.replaceInStrings("@", QString::fromStdString(hexPath_));
    }
    // A job on a device that never answers block writes, started from Go.
    std::unique_ptr<ProgrammerDialog> startSilentJob(const QString& address = "101") {
        factory_.device = Device::SilentOnWrites;
        storeJobSettings();
        auto dialog = makeDialog();
        setEdit(*dialog, 1001, address);
        dialog->goButton->click();
        EXPECT_TRUE(waitFor([&] { return dialog->job()->imageLength > 0; }));
        return dialog;
    }
};

TEST_F(MainWindowTest, StartsFromTheStoredSettingsOrTheirDefaults) {
    const struct {
        std::vector<std::pair<QString, QVariant>> stored;
        int link;
        std::vector<std::pair<int, QString>> texts;  // 1026 (host) shown, or 1009 (COM port)
        std::vector<std::pair<QString, int>> afterClose;
    } cases[] = {
        {{}, 1013, {{1009, "COM1"}, {1017, "KVTC/1-4400"}, {1001, "101"}, {1000, "4255.hex"},
                    {1007, "Load Binary Flash Archive..."}, {1012, "CRC-8"}, {1016, ""}}, {}},
        {{{"Info/Driver", 3}, {"Info/BaudRate", 19200}, {"Info/IP", "127.0.0.2:4001"}},
         1018, {{1026, "127.0.0.2:4001"}}, {{"Info/BaudRate", 19200}, {"Info/Driver", 3}}},
        // Values outside their ranges fall back.
        {{{"Info/Driver", 7}, {"Info/Device", 9}, {"Info/Port", 12}}, 1013,
         {{1009, ""}, {1017, "KVTC/1-4400"}}, {{"Info/Driver", 1}, {"Info/Device", 0}}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.link);
        openSettings()->clear();
        for (const auto& [key, value] : c.stored) writeSetting(key, value);
        auto dialog = makeDialog();
        EXPECT_EQ(checkedLink(*dialog), c.link);
        EXPECT_EQ(dialog->hostPortEdit->isHidden(), c.link == 1013);
        EXPECT_EQ(dialog->portList->isHidden(), c.link != 1013);
        for (const auto& [id, text] : c.texts) EXPECT_EQ(shown(*dialog, id), text) << id;
        EXPECT_TRUE(dialog->goButton->isEnabled());
        EXPECT_FALSE(dialog->abortButton->isEnabled());
        dialog->closeCommand();
        for (const auto& [key, value] : c.afterClose) EXPECT_EQ(readSetting(key).toInt(), value);
    }
}

TEST_F(MainWindowTest, CommandLineFillsTheControlsAndStartsAtOnce) {
    const QStringList full = {"KVTC/2", "250", "38400", "@"};  // "@": the test's HEX file
    const struct {
        QStringList arguments;
        int storedDriver;
        const char *model, *rowZero, *address;  // the command line's model becomes row 0
        int button, linkKind, baudRate;
    } cases[] = {
        {full, 1, "KVTC/2-5140", "KVTC/2", "250", 1015, rw::LINK_SERIAL, 38400},
        {full, 2, "KVTC/2-5140", "KVTC/2", "250", 1019, rw::LINK_TCP, 38400},
        {{"kvtc/1-4255", "5", "4800", "@"}, 1, "KVTC/1-4255", "kvtc/1-4255", "5", 0,
         rw::LINK_SERIAL, 4800},
        {{"KVTC/1-4255"}, 1, "KVTC/1-4255", "KVTC/1-4255", "77", 1013, rw::LINK_SERIAL, 9600},
        {{"KVTC/1-4255", "12", "fast", "/none.hex"}, 1, "KVTC/1-4255", "KVTC/1-4255", "12", 1013,
         rw::LINK_SERIAL, 9600}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString() + " driver " +
                     std::to_string(c.storedDriver));
        factory_.requests.clear();
        writeSetting("Info/Driver", c.storedDriver);
        writeSetting("Info/Address", 77);
        writeSetting("Info/IP", "127.0.0.2:4000");
        writeSetting("Info/File", QString::fromStdString(hexPath_));
        auto dialog = makeDialog(withHex(c.arguments));
        EXPECT_EQ(dialog->modelList->currentText(), c.model);
        EXPECT_EQ(dialog->models()[0]->name, c.rowZero);
        EXPECT_EQ(shown(*dialog, 1001), c.address);
        EXPECT_EQ(checkedLink(*dialog), c.button);
        ASSERT_TRUE(waitFor([&] { return dialog->quitRequested(); }));
        EXPECT_EQ(dialog->exitCode(), 0);
        ASSERT_EQ(factory_.requestCount(), 1u);
        const LinkRequest& request = factory_.requests[0];
        EXPECT_EQ(request.linkKind, c.linkKind);
        EXPECT_EQ(request.baudRate, c.baudRate);
        EXPECT_EQ(request.modelName, c.model);
        if (c.linkKind == rw::LINK_TCP) {
            EXPECT_EQ(request.hostName, "127.0.0.2");
            EXPECT_EQ(request.port, 4000);
        }
    }
}

TEST_F(MainWindowTest, CommandLineRefusalShowsWhyWithAWindowAndQuitsAsFailedWithoutAsking) {
    const QStringList tail = {"5", "9600", "@"};
    const struct {
        QStringList arguments;
        const char* status;
        bool messageBox;  // with a window: the data exchange's message instead of a status
    } cases[] = {
        {QStringList{QString(33, 'K')} + tail, "MODEL NAME TOO LONG", false},
        {QStringList{QString(32, 'K')} + tail, "NO FLASH DEVICE SELECTED", false},  // it fits
        {{"KVTC/1-4255", "5", "9600", "/" + QString(256, 'f')}, "FILE NAME TOO LONG", false},
        {{"KVTC/1-4255", "5", "9600", "/none/x.hex"}, "Invalid Binary File", false},
        {QStringList{"KVTC/9"} + tail, "NO FLASH DEVICE SELECTED", false},
        {{"KVTC/1-4255", "70000", "9600", "@"}, "Please enter an integer between 0 and 65535.",
         true}};
    for (const auto& c : cases) {
        for (bool windowless : {false, true}) {
            SCOPED_TRACE(std::string(c.status) + (windowless ? " windowless" : ""));
            prompts_.messages.clear();
            DialogOptions options;
            options.windowless = windowless;
            auto dialog = makeDialog(withHex(c.arguments), options);
            pumpEvents(30);
            EXPECT_EQ(factory_.requestCount(), 0u);
            EXPECT_EQ(dialog->quitRequested(), windowless);
            if (windowless) {
                EXPECT_EQ(dialog->exitCode(), 1);
                EXPECT_TRUE(prompts_.messages.empty());
            } else if (c.messageBox) {
                EXPECT_EQ(prompts_.messages, std::vector<QString>{c.status});
            } else {
                EXPECT_TRUE(prompts_.messages.empty());
                EXPECT_EQ(shown(*dialog, 1007), c.status);
                EXPECT_TRUE(statusIsRed(*dialog));
            }
        }
    }
}

TEST_F(MainWindowTest, BrowseCancelledTurnsTheStatusRedAndKeepsThePath) {
    auto dialog = makeDialog();
    dialog->browseButton->click();
    EXPECT_EQ(prompts_.fileDialogs, 1);
    EXPECT_TRUE(statusIsRed(*dialog));
    EXPECT_EQ(shown(*dialog, 1007), "Load Binary Flash Archive...");
    EXPECT_EQ(shown(*dialog, 1000), "4255.hex");
    prompts_.nextFile = QString::fromStdString(hexPath_);
    dialog->browseButton->click();
    EXPECT_FALSE(statusIsRed(*dialog));
    EXPECT_EQ(shown(*dialog, 1007), "Ready...");
    EXPECT_EQ(shown(*dialog, 1012), "");
    EXPECT_EQ(shown(*dialog, 1000), prompts_.nextFile);
}

TEST_F(MainWindowTest, GoRefusalsStartNothing) {
    std::filesystem::path deep = data_.path();
    for (int i = 0; i < 6; ++i) deep /= std::string(200, 'd');
    const std::string tooLong = rwtest::writeFile(deep / "image.hex", kHexImage).string();
    ASSERT_GT(tooLong.size(), sizeof(rw::FlashJob::imagePath));
    const QString longHost = "127.0.0.2:" + QString(20, '1');  // typed into the TCP link
    const struct {
        std::string file;
        bool noModel;
        QString host, status, message;
    } cases[] = {{"/no/such/file.hex", false, {}, "Invalid Binary File", {}},
                 {tooLong, false, {}, "FILE PATH TOO LONG", {}},
                 {hexPath_, true, {}, "NO FLASH DEVICE SELECTED", {}},
                 {hexPath_, false, longHost, {}, "Please enter no more than 24 characters."}};
    for (const auto& c : cases) {
        SCOPED_TRACE((c.status + c.message).toStdString());
        prompts_.messages.clear();
        auto dialog = makeDialog();
        setEdit(*dialog, 1000, QString::fromStdString(c.file));
        if (c.noModel) dialog->modelList->setCurrentIndex(-1);
        if (!c.host.isEmpty()) {
            dialog->findChild<QRadioButton*>("id1019")->click();
            dialog->hostPortEdit->setText(c.host);
        }
        dialog->goButton->click();
        if (c.message.isEmpty()) {
            EXPECT_TRUE(prompts_.messages.empty());
            EXPECT_EQ(shown(*dialog, 1007), c.status);
            EXPECT_TRUE(statusIsRed(*dialog));
        } else {
            EXPECT_EQ(prompts_.messages, std::vector<QString>{c.message});
        }
        EXPECT_TRUE(dialog->goButton->isEnabled());
        EXPECT_FALSE(dialog->abortButton->isEnabled());
        EXPECT_EQ(dialog->job()->imageLength, 0);
        if (c.file == tooLong) {
            EXPECT_EQ(dialog->job()->imagePath[0], '\0');
        }
        pumpEvents(30);
        EXPECT_EQ(factory_.requestCount(), 0u);
        EXPECT_FALSE(dialog->job()->workerThread.attached());
    }
}

TEST_F(MainWindowTest, GoUsesTheChosenLinkAndSplitsTheHostAtTheFirstColon) {
    const struct {
        int button;
        const char* text;
        int kind;
        const char* host;
        int port;
    } cases[] = {{1018, "127.0.0.2", rw::LINK_UDP, "127.0.0.2", 3001},
                 {1018, "127.0.0.2:", rw::LINK_UDP, "127.0.0.2", 0},
                 {1019, "127.0.0.2:4100:9", rw::LINK_TCP, "127.0.0.2", 4100},
                 {1013, "", rw::LINK_SERIAL, nullptr, 3}};  // COM3, the third entry
    storeJobSettings();
    auto dialog = makeDialog();
    dialog->portList->setCurrentIndex(2);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        dialog->findChild<QRadioButton*>(QStringLiteral("id%1").arg(c.button))->click();
        dialog->hostPortEdit->setText(c.text);
        const size_t before = factory_.requestCount();
        dialog->goButton->click();
        ASSERT_TRUE(waitFor([&] { return factory_.requestCount() == before + 1; }));
        ASSERT_TRUE(waitFor([&] { return !dialog->isJobRunning(); }));
        EXPECT_EQ(factory_.requests.back().linkKind, c.kind);
        if (c.host) {
            EXPECT_EQ(factory_.requests.back().hostName, c.host);
        }
        EXPECT_EQ(factory_.requests.back().port, c.port);
    }
}

TEST_F(MainWindowTest, EnterIsGoEscapeIsAbortAndNeitherClosesTheDialog) {
    auto dialog = makeDialog();
    dialog->show();
    auto press = [&](int key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(dialog.get(), &event);
    };
    setEdit(*dialog, 1000, "/no/such.hex");
    press(Qt::Key_Return);
    EXPECT_EQ(shown(*dialog, 1007), "Invalid Binary File");
    ASSERT_TRUE(statusIsRed(*dialog));
    dialog->job()->imageLength = 100;
    press(Qt::Key_Escape);  // Abort while idle clears the failure display
    EXPECT_EQ(shown(*dialog, 1007), "");
    EXPECT_FALSE(statusIsRed(*dialog));
    EXPECT_EQ(dialog->job()->imageLength, 0);
    EXPECT_EQ(dialog->job()->failed.load(), 0);
    EXPECT_TRUE(dialog->isVisible());
    dialog->closeCommand();
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(MainWindowTest, LoggedStatusesGoToHistoryNewestFirstAndToTheLogInTimeOrder) {
    auto dialog = makeDialog();
    const struct {
        const char* text;
        int ended, logged;
    } lines[] = {{"FIRST LINE", 0, 1}, {"NOT LOGGED", 0, 0}, {"SECOND LINE", 1, 1}};
    for (const auto& line : lines) {
        std::snprintf(dialog->job()->statusText, sizeof dialog->job()->statusText, "%s", line.text);
        dialog->onFlashStatus(line.ended, line.logged);
    }
    const QString history = dialog->historyEdit->toPlainText();
    ASSERT_GT(history.indexOf("FIRST LINE"), history.indexOf("SECOND LINE"));
    EXPECT_EQ(history.indexOf("NOT LOGGED"), -1);
    EXPECT_TRUE(dialog->historyText.endsWith("  FIRST LINE\r\n"));
    EXPECT_EQ(shown(*dialog, 1007), "SECOND LINE");
    const std::string log = logText();
    ASSERT_LT(log.find("  FIRST LINE\r\n"), log.find("  SECOND LINE\r\n"));
    EXPECT_EQ(log.find("SECOND LINE\r\n") + 13, log.size());
    EXPECT_EQ(log.find("NOT LOGGED"), std::string::npos);
}

TEST_F(MainWindowTest, ElapsedSurvivesTheTickWrapAndCrcIsTwoHexDigits) {
    rwtest::FakeClock clock((int64_t{1} << 32) + 2244);
    DialogOptions options;
    options.clock = &clock;
    auto dialog = makeDialog({}, options);
    dialog->startTick = 0xFFFFFF00u;  // Go 2.5 s ago, before the 32-bit tick count wrapped
    dialog->onFlashStatus(0, 0);
    EXPECT_EQ(shown(*dialog, 1016), "2.5 seconds");
    dialog->onFlashCrc(10);
    EXPECT_EQ(shown(*dialog, 1012), "CRC8 = 0a hex");
}

TEST_F(MainWindowTest, SettingsRoundTripThroughTheCloseCommand) {
    {
        auto dialog = makeDialog();
        dialog->findChild<QRadioButton*>("id1019")->click();
        dialog->hostPortEdit->setText("127.0.0.2:4321");
        setEdit(*dialog, 1001, "65535");
        setEdit(*dialog, 1000, "/tmp/some.hex");
        dialog->modelList->setCurrentIndex(0);  // KVTC/1-3000, row 2
        dialog->portList->setCurrentIndex(4);
        rw::setSoundScheme("Chimes");
        dialog->closeCommand();
    }
    EXPECT_EQ(readSetting("Info/Driver").toInt(), 2);
    EXPECT_EQ(readSetting("Info/Device").toInt(), 2);
    EXPECT_EQ(readSetting("Info/Sounds").toString(), "Chimes");
    EXPECT_EQ(readSetting("Info/BaudRate").toInt(), 9600);
    auto dialog = makeDialog();
    EXPECT_EQ(checkedLink(*dialog), 1019);
    EXPECT_EQ(dialog->hostPortEdit->text(), "127.0.0.2:4321");
    const std::pair<int, const char*> texts[] = {
        {1001, "65535"}, {1000, "/tmp/some.hex"}, {1017, "KVTC/1-3000"}, {1009, "COM5"}};
    for (const auto& [id, text] : texts) EXPECT_EQ(shown(*dialog, id), text) << id;
}

// Abort while running, Go while that worker winds down, then close while the
// second job runs.
TEST_F(MainWindowTest, AbortThenGoDuringWindDownThenCloseWhileRunning) {
    auto dialog = startSilentJob("42");
    EXPECT_FALSE(dialog->goButton->isEnabled());
    EXPECT_TRUE(dialog->abortButton->isEnabled());
    GateLink* link = factory_.link();
    link->setArmed(true);
    dialog->abortButton->click();  // the worker winds down, held at the gate
    EXPECT_EQ(shown(*dialog, 1007), "Flash Download Aborted...");
    EXPECT_TRUE(statusIsRed(*dialog));
    EXPECT_TRUE(dialog->goButton->isEnabled());
    EXPECT_FALSE(dialog->abortButton->isEnabled());
    ASSERT_TRUE(waitFor([&] { return link->holding.load(); }));
    setEdit(*dialog, 1001, "4242");
    dialog->goButton->click();
    EXPECT_TRUE(dialog->goDeferred());
    EXPECT_EQ(shown(*dialog, 1007), "WAITING FOR THE LAST JOB TO END...");
    pumpEvents(60);
    EXPECT_EQ(factory_.requestCount(), 1u);  // no second worker on the record
    link->setArmed(false);
    ASSERT_TRUE(waitFor([&] { return factory_.requestCount() == 2; }));
    ASSERT_TRUE(waitFor([&] { return failedList() == AddressList{42}; }));  // the aborted job
    EXPECT_FALSE(dialog->goDeferred());
    ASSERT_TRUE(waitFor([&] { return dialog->job()->imageLength > 0; }));
    dialog->closeCommand();  // waits for the worker, then writes the settings
    EXPECT_EQ(dialog->job(), nullptr);
    EXPECT_EQ(readSetting("Info/Address").toInt(), 4242);
    EXPECT_EQ(readSetting("Info/File").toString(), QString::fromStdString(hexPath_));
    pumpEvents(30);  // the worker's posted completion finds no record and changes nothing
    EXPECT_EQ(failedList(), AddressList{42});
    EXPECT_EQ(factory_.addresses(), (std::vector<int>{42, 4242}));
}

TEST_F(MainWindowTest, QuitRequestedBeforeTheEventLoopStillEndsIt) {
    DialogOptions options;
    options.windowless = true;
    auto dialog = makeDialog({"KVTC/1-4255", "5", "9600", "/no/such.hex"}, options);
    QTimer::singleShot(5000, dialog.get(), [&] { dialog->done(99); });  // guard only
    EXPECT_EQ(dialog->exec(), 1);
    EXPECT_EQ(dialog->exitCode(), 1);
}

TEST_F(MainWindowTest, CommandLineJobOnAnUnreachableDeviceQuitsAsFailed) {
    factory_.device = Device::Unreachable;
    auto dialog = makeDialog(withHex({"KVTC/1-4255", "5", "38400", "@"}));
    ASSERT_TRUE(waitFor([&] { return dialog->quitRequested(); }));
    EXPECT_EQ(dialog->exitCode(), 1);
    EXPECT_NE(logText().find("PORT INITIALIZE ERROR"), std::string::npos);
}

}  // namespace
