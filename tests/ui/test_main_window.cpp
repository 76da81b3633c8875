// The main window: settings, command line, browse, Go, Abort, status and close.
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

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
    auto* status = dialog.findChild<QLabel*>("id1007");
    return status->autoFillBackground() &&
           status->palette().color(QPalette::Window) == QColor(255, 0, 0) &&
           status->palette().color(QPalette::WindowText) == QColor(255, 255, 255);
}

void setEdit(QWidget& dialog, int id, const QString& text) {
    dialog.findChild<QLineEdit*>(QStringLiteral("id%1").arg(id))->setText(text);
}

using MainWindowTest = WindowTest;

TEST_F(MainWindowTest, StartsFromTheStoredSettingsOrTheirDefaults) {
    const struct {
        std::vector<std::pair<QString, QVariant>> stored;
        int link;
        std::vector<std::pair<int, QString>> texts;
        std::vector<std::pair<QString, int>> afterClose;
    } cases[] = {
        {{}, 1013, {{1009, "COM1"}, {1017, "KVTC/1-4400"}, {1001, "101"}, {1000, "4255.hex"},
                    {1007, "Load Binary Flash Archive..."}, {1012, "CRC-8"}, {1016, ""}}, {}},
        {{{"Info/Driver", 3}, {"Info/BaudRate", 19200}, {"Info/IP", "127.0.0.2:4001"}},
         1018, {{1026, "127.0.0.2:4001"}}, {{"Info/BaudRate", 19200}, {"Info/Driver", 3}}},
        {{{"Info/Driver", 7}, {"Info/Device", 9}, {"Info/Port", 12}}, 1013,
         {{1009, ""}, {1017, "KVTC/1-4400"}}, {{"Info/Driver", 1}, {"Info/Device", 0}}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.link);
        openSettings()->clear();
        for (const auto& [key, value] : c.stored) writeSetting(key, value);
        auto dialog = makeDialog();
        EXPECT_EQ(checkedLink(*dialog), c.link);
        EXPECT_EQ(dialog->hostPortEdit->isHidden(), c.link == 1013);
        for (const auto& [id, text] : c.texts) EXPECT_EQ(shown(*dialog, id), text) << id;
        dialog->closeCommand();
        for (const auto& [key, value] : c.afterClose) EXPECT_EQ(readSetting(key).toInt(), value);
    }
}

// Successful rows start at once; refused rows ("refusal" set) run with a window and
// without one, and start nothing.
TEST_F(MainWindowTest, CommandLineFillsTheControlsAndStartsOrRefuses) {
    const QStringList full = {"KVTC/2", "250", "38400", "@"};  // "@": the test's HEX file
    const struct {
        QStringList arguments;
        int driver;
        const char *model, *address;
        int button, linkKind, baudRate;
        const char* refusal = nullptr;
        bool messageBox = false;  // the refusal comes as a message with a window
    } cases[] = {
        {full, 1, "KVTC/2-5140", "250", 1015, rw::LINK_SERIAL, 38400},
        {full, 2, "KVTC/2-5140", "250", 1019, rw::LINK_TCP, 38400},
        {{"kvtc/1-4255", "5", "4800", "@"}, 1, "KVTC/1-4255", "5", 0, rw::LINK_SERIAL, 4800},
        {{"KVTC/1-4255"}, 1, "KVTC/1-4255", "77", 1013, rw::LINK_SERIAL, 9600},
        {{QString(33, 'K'), "5", "9600", "@"}, 1, "", "", 0, 0, 0, "MODEL NAME TOO LONG"},
        {{"KVTC/1-4255", "5", "9600", "/none/x.hex"}, 1, "", "", 0, 0, 0, "Invalid Binary File"},
        {{"KVTC/1-4255", "70000", "9600", "@"}, 1, "", "", 0, 0, 0,
         "Please enter an integer between 0 and 65535.", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').left(40).toStdString() + " driver " +
                     std::to_string(c.driver));
        writeSetting("Info/Driver", c.driver);
        writeSetting("Info/Address", 77);
        writeSetting("Info/IP", "127.0.0.2:4000");
        writeSetting("Info/File", QString::fromStdString(hexPath_));
        for (bool windowless : {false, true}) {
            if (windowless && c.refusal == nullptr) break;
            factory_.requests.clear();
            prompts_.messages.clear();
            DialogOptions options;
            options.windowless = windowless;
            auto dialog = makeDialog(
                QStringList(c.arguments).replaceInStrings("@", QString::fromStdString(hexPath_)),
                options);
            if (c.refusal != nullptr) {
                pumpEvents(30);
                EXPECT_TRUE(factory_.addresses().empty());
                EXPECT_EQ(dialog->quitRequested(), windowless);
                EXPECT_EQ(dialog->exitCode(), windowless ? 1 : 0);
                const bool boxed = c.messageBox && !windowless;
                EXPECT_EQ(prompts_.messages,
                          boxed ? std::vector<QString>{c.refusal} : std::vector<QString>{});
                if (!windowless && !boxed) {
                    EXPECT_EQ(shown(*dialog, 1007), c.refusal);
                    EXPECT_TRUE(statusIsRed(*dialog));
                }
                continue;
            }
            EXPECT_EQ(dialog->modelList->currentText(), c.model);
            EXPECT_EQ(dialog->models()[0]->name, c.arguments[0].toStdString());
            EXPECT_EQ(shown(*dialog, 1001), c.address);
            EXPECT_EQ(checkedLink(*dialog), c.button);
            ASSERT_TRUE(waitFor([&] { return dialog->quitRequested(); }));
            EXPECT_EQ(dialog->exitCode(), 0);
            ASSERT_EQ(factory_.addresses().size(), 1u);
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
}

TEST_F(MainWindowTest, BrowseCancelledTurnsTheStatusRedAndKeepsThePath) {
    auto dialog = makeDialog();
    dialog->browseButton->click();
    EXPECT_EQ(prompts_.fileDialogs, 1);
    EXPECT_TRUE(statusIsRed(*dialog));
    EXPECT_EQ(shown(*dialog, 1000), "4255.hex");
}

TEST_F(MainWindowTest, EnterWithAMissingFileStartsNothingAndIdleEscapeClearsTheFailure) {
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
    pumpEvents(30);
    EXPECT_TRUE(factory_.addresses().empty());
    dialog->job()->imageLength = 100;
    press(Qt::Key_Escape);
    EXPECT_EQ(shown(*dialog, 1007), "");
    EXPECT_FALSE(statusIsRed(*dialog));
    EXPECT_EQ(dialog->job()->imageLength, 0);
    EXPECT_TRUE(dialog->isVisible());
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
    EXPECT_GT(history.indexOf("FIRST LINE"), history.indexOf("SECOND LINE"));
    EXPECT_EQ(history.indexOf("NOT LOGGED"), -1);
    EXPECT_EQ(shown(*dialog, 1007), "SECOND LINE");
    const std::string log = logText();
    EXPECT_LT(log.find("  FIRST LINE\r\n"), log.find("  SECOND LINE\r\n"));
    EXPECT_EQ(log.find("NOT LOGGED"), std::string::npos);
}

TEST_F(MainWindowTest, ElapsedSurvivesTheTickWrapAndCrcIsTwoHexDigits) {
    rwtest::FakeClock clock((int64_t{1} << 32) + 2244);
    DialogOptions options;
    options.clock = &clock;
    auto dialog = makeDialog({}, options);
    dialog->startTick = 0xFFFFFF00u;  // 2.5 s ago, before the 32-bit tick count wrapped
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
        dialog->modelList->setCurrentIndex(0);
        dialog->portList->setCurrentIndex(4);
        rw::setSoundScheme("Chimes");
        dialog->closeCommand();
    }
    EXPECT_EQ(readSetting("Info/Sounds").toString(), "Chimes");
    auto dialog = makeDialog();
    EXPECT_EQ(checkedLink(*dialog), 1019);
    EXPECT_EQ(dialog->hostPortEdit->text(), "127.0.0.2:4321");
    const std::pair<int, const char*> texts[] = {
        {1001, "65535"}, {1000, "/tmp/some.hex"}, {1017, "KVTC/1-3000"}, {1009, "COM5"}};
    for (const auto& [id, text] : texts) EXPECT_EQ(shown(*dialog, id), text) << id;
}

TEST_F(MainWindowTest, AbortThenGoDuringWindDownThenCloseWhileRunning) {
    factory_.silentOnWrites = true;
    writeSetting("Info/Device", 1);
    writeSetting("Info/File", QString::fromStdString(hexPath_));
    auto dialog = makeDialog();
    setEdit(*dialog, 1001, "42");
    dialog->goButton->click();
    ASSERT_TRUE(waitFor([&] { return dialog->job()->imageLength > 0; }));
    GateLink* link = factory_.link();
    link->setArmed(true);
    dialog->abortButton->click();  // the worker winds down, held at the gate
    EXPECT_EQ(shown(*dialog, 1007), "Flash Download Aborted...");
    EXPECT_TRUE(statusIsRed(*dialog));
    ASSERT_TRUE(waitFor([&] { return link->holding.load(); }));
    setEdit(*dialog, 1001, "4242");
    dialog->goButton->click();
    EXPECT_EQ(shown(*dialog, 1007), "WAITING FOR THE LAST JOB TO END...");
    pumpEvents(60);
    EXPECT_EQ(factory_.addresses(), std::vector<int>{42});
    link->setArmed(false);
    ASSERT_TRUE(waitFor([&] { return factory_.addresses().size() == 2; }));
    ASSERT_TRUE(waitFor([&] { return failedList() == AddressList{42}; }));
    ASSERT_TRUE(waitFor([&] { return dialog->job()->imageLength > 0; }));
    dialog->closeCommand();  // waits for the worker, then writes the settings
    EXPECT_EQ(dialog->job(), nullptr);
    EXPECT_EQ(readSetting("Info/Address").toInt(), 4242);
    pumpEvents(30);  // the worker's posted completion finds no record
    EXPECT_EQ(failedList(), AddressList{42});
    EXPECT_EQ(factory_.addresses(), (std::vector<int>{42, 4242}));
}

}  // namespace
