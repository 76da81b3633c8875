// The main window through its public behaviour: settings, command line,
// browse, Go, Abort, the status display and the close command.
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <filesystem>

#include "WindowTestSupport.h"

namespace fs = std::filesystem;
using namespace wintest;

namespace {

template <class W>
W* control(QWidget& dialog, int id) {
    W* widget = dialog.findChild<W*>(QStringLiteral("id%1").arg(id));
    EXPECT_NE(widget, nullptr) << "control " << id;
    return widget;
}

// The id of the checked link button, 0 when none is.
int checkedLink(QWidget& dialog) {
    for (int id : {1023, 1013, 1014, 1015, 1018, 1019}) {
        if (control<QRadioButton>(dialog, id)->isChecked()) return id;
    }
    return 0;
}

bool statusIsRed(QWidget& dialog) {
    QLabel* label = control<QLabel>(dialog, 1007);
    return label->autoFillBackground() &&
           label->palette().color(QPalette::Window) == QColor(255, 0, 0) &&
           label->palette().color(QPalette::WindowText) == QColor(255, 255, 255);
}

class MainWindowTest : public WindowTest {};

TEST_F(MainWindowTest, FirstRunShowsTheDefaults) {
    auto dialog = makeDialog();
    EXPECT_EQ(checkedLink(*dialog), 1013);
    EXPECT_FALSE(control<QComboBox>(*dialog, 1009)->isHidden());
    EXPECT_EQ(control<QComboBox>(*dialog, 1009)->currentText(), "COM1");
    EXPECT_TRUE(control<QLineEdit>(*dialog, 1026)->isHidden());
    EXPECT_EQ(control<QComboBox>(*dialog, 1017)->currentText(), "KVTC/1-4400");
    EXPECT_EQ(control<QLineEdit>(*dialog, 1001)->text(), "101");
    EXPECT_EQ(control<QLineEdit>(*dialog, 1000)->text(), "4255.hex");
    EXPECT_EQ(control<QLabel>(*dialog, 1007)->text(), "Load Binary Flash Archive...");
    EXPECT_EQ(control<QLabel>(*dialog, 1012)->text(), "CRC-8");
    EXPECT_EQ(control<QLabel>(*dialog, 1016)->text(), "");
    EXPECT_FALSE(control<QPushButton>(*dialog, 2)->isEnabled());
    EXPECT_TRUE(control<QPushButton>(*dialog, 1)->isEnabled());
    EXPECT_TRUE(control<QPushButton>(*dialog, 57601)->isEnabled());
    EXPECT_EQ(dialog->windowTitle(), " KVT In-Field Flash Programmer");
    EXPECT_EQ(dialog->size(), QSize(525, 504));
    QStringList models;
    for (int i = 0; i < 5; ++i) models << control<QComboBox>(*dialog, 1017)->itemText(i);
    EXPECT_EQ(models, QStringList({"KVTC/1-3000", "KVTC/1-4255", "KVTC/1-4400", "KVTC/2-5140",
                                   "KVTC/2-5240"}));
}

TEST_F(MainWindowTest, StoredUdpDriverShowsTheHostAndKeepsTheBaudRate) {
    writeSetting("Info/Driver", 3);
    writeSetting("Info/BaudRate", 19200);
    writeSetting("Info/IP", "127.0.0.2:4001");
    auto dialog = makeDialog();
    EXPECT_EQ(checkedLink(*dialog), 1018);
    EXPECT_FALSE(control<QLineEdit>(*dialog, 1026)->isHidden());
    EXPECT_EQ(control<QLineEdit>(*dialog, 1026)->text(), "127.0.0.2:4001");
    EXPECT_TRUE(control<QComboBox>(*dialog, 1009)->isHidden());
    dialog->closeCommand();
    EXPECT_EQ(readSetting("Info/BaudRate").toInt(), 19200);
    EXPECT_EQ(readSetting("Info/Driver").toInt(), 3);
}

TEST_F(MainWindowTest, StoredValuesOutsideTheirRangeFallBack) {
    writeSetting("Info/Driver", 7);
    writeSetting("Info/Device", 9);
    writeSetting("Info/Port", 12);
    auto dialog = makeDialog();
    EXPECT_EQ(checkedLink(*dialog), 1013);
    EXPECT_FALSE(control<QComboBox>(*dialog, 1009)->isHidden());
    EXPECT_EQ(control<QComboBox>(*dialog, 1009)->currentIndex(), -1);
    EXPECT_EQ(control<QComboBox>(*dialog, 1017)->currentText(), "KVTC/1-4400");
    dialog->closeCommand();
    EXPECT_EQ(readSetting("Info/Driver").toInt(), 1);
    EXPECT_EQ(readSetting("Info/Device").toInt(), 0);
}

struct CommandLineCase {
    const char* name;
    QStringList arguments;  // "@" stands for the test's HEX file
    int storedDriver;
    const char* selectedModel;
    const char* rowZeroName;
    const char* address;
    int checkedButton;
    int linkKind;
    int baudRate;
    const char* jobModel;
};

class CommandLineStart : public MainWindowTest,
                         public ::testing::WithParamInterface<CommandLineCase> {};

TEST_P(CommandLineStart, FillsTheControlsAndStartsAtOnce) {
    const CommandLineCase& c = GetParam();
    writeSetting("Info/Driver", c.storedDriver);
    writeSetting("Info/Device", 0);
    writeSetting("Info/Address", 77);
    writeSetting("Info/IP", "127.0.0.2:4000");
    writeSetting("Info/File", QString::fromStdString(hexPath_));
    QStringList arguments = c.arguments;
    arguments.replaceInStrings("@", QString::fromStdString(hexPath_));
    auto dialog = makeDialog(arguments);
    EXPECT_EQ(control<QComboBox>(*dialog, 1017)->currentText(), c.selectedModel);
    EXPECT_EQ(dialog->models()[0]->name, c.rowZeroName);
    EXPECT_EQ(control<QLineEdit>(*dialog, 1001)->text(), c.address);
    EXPECT_EQ(checkedLink(*dialog), c.checkedButton);
    ASSERT_TRUE(waitFor([&] { return factory_.requestCount() == 1; }));
    const LinkRequest request = factory_.requests[0];
    EXPECT_EQ(request.linkKind, c.linkKind);
    EXPECT_EQ(request.baudRate, c.baudRate);
    EXPECT_EQ(request.modelName, c.jobModel);
    if (c.linkKind == rw::LINK_TCP) {
        EXPECT_EQ(request.hostName, "127.0.0.2");
        EXPECT_EQ(request.port, 4000);
    }
    ASSERT_TRUE(waitFor([&] { return dialog->quitRequested(); }));
}

INSTANTIATE_TEST_SUITE_P(Cases, CommandLineStart,
                         ::testing::Values(CommandLineCase{"prefix",
                                                           {"KVTC/2", "250", "38400", "@"},
                                                           1,
                                                           "KVTC/2-5140",
                                                           "KVTC/2",
                                                           "250",
                                                           1015,
                                                           rw::LINK_SERIAL,
                                                           38400,
                                                           "KVTC/2-5140"},
                                           CommandLineCase{"tcp",
                                                           {"KVTC/2", "250", "38400", "@"},
                                                           2,
                                                           "KVTC/2-5140",
                                                           "KVTC/2",
                                                           "250",
                                                           1019,
                                                           rw::LINK_TCP,
                                                           38400,
                                                           "KVTC/2-5140"},
                                           CommandLineCase{"rate4800",
                                                           {"kvtc/1-4255", "5", "4800", "@"},
                                                           1,
                                                           "KVTC/1-4255",
                                                           "kvtc/1-4255",
                                                           "5",
                                                           0,
                                                           rw::LINK_SERIAL,
                                                           4800,
                                                           "KVTC/1-4255"},
                                           CommandLineCase{"modelOnly",
                                                           {"KVTC/1-4255"},
                                                           1,
                                                           "KVTC/1-4255",
                                                           "KVTC/1-4255",
                                                           "77",
                                                           1013,
                                                           rw::LINK_SERIAL,
                                                           9600,
                                                           "KVTC/1-4255"},
                                           CommandLineCase{
                                               "rateNotANumber",
                                               {"KVTC/1-4255", "12", "fast", "/none.hex"},
                                               1,
                                               "KVTC/1-4255",
                                               "KVTC/1-4255",
                                               "12",
                                               1013,
                                               rw::LINK_SERIAL,
                                               9600,
                                               "KVTC/1-4255"}),
                         [](const auto& info) { return std::string(info.param.name); });

struct RefusalCase {
    const char* name;
    QStringList arguments;
    const char* status;
    bool messageBox;  // with a window: the data exchange's message instead of a status
};

class CommandLineRefusal : public MainWindowTest,
                           public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(CommandLineRefusal, WithAWindowShowsWhyAndStaysOpen) {
    const RefusalCase& c = GetParam();
    QStringList arguments = c.arguments;
    arguments.replaceInStrings("@", QString::fromStdString(hexPath_));
    auto dialog = makeDialog(arguments);
    pumpEvents(50);
    EXPECT_EQ(factory_.requestCount(), 0u);
    EXPECT_FALSE(dialog->quitRequested());
    EXPECT_TRUE(control<QPushButton>(*dialog, 1)->isEnabled());
    if (c.messageBox) {
        ASSERT_EQ(prompts_.messages.size(), 1u);
        EXPECT_EQ(prompts_.messages[0], c.status);
    } else {
        EXPECT_TRUE(prompts_.messages.empty());
        EXPECT_EQ(control<QLabel>(*dialog, 1007)->text(), c.status);
        EXPECT_TRUE(statusIsRed(*dialog));
    }
}

TEST_P(CommandLineRefusal, WithoutAWindowQuitsAsFailedWithoutAsking) {
    const RefusalCase& c = GetParam();
    QStringList arguments = c.arguments;
    arguments.replaceInStrings("@", QString::fromStdString(hexPath_));
    DialogOptions options;
    options.windowless = true;
    auto dialog = makeDialog(arguments, options);
    EXPECT_TRUE(dialog->quitRequested());
    EXPECT_EQ(dialog->exitCode(), 1);
    EXPECT_TRUE(prompts_.messages.empty());
    pumpEvents(30);
    EXPECT_EQ(factory_.requestCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineRefusal,
    ::testing::Values(
        RefusalCase{
            "modelTooLong", {QString(33, 'K'), "5", "9600", "@"}, "MODEL NAME TOO LONG", false},
        RefusalCase{"fileTooLong",
                    {"KVTC/1-4255", "5", "9600", "/" + QString(256, 'f')},
                    "FILE NAME TOO LONG",
                    false},
        RefusalCase{"missingFile",
                    {"KVTC/1-4255", "5", "9600", "/none/x.hex"},
                    "Invalid Binary File",
                    false},
        RefusalCase{
            "unknownModel", {"KVTC/9", "5", "9600", "@"}, "NO FLASH DEVICE SELECTED", false},
        RefusalCase{"addressTooHigh",
                    {"KVTC/1-4255", "70000", "9600", "@"},
                    "Please enter an integer between 0 and 65535.",
                    true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MainWindowTest, ModelTokenOfExactly32CharactersIsAccepted) {
    writeSetting("Info/File", QString::fromStdString(hexPath_));
    auto dialog = makeDialog({QString(32, 'K')});
    EXPECT_EQ(dialog->models()[0]->name, std::string(32, 'K'));
    EXPECT_EQ(control<QLabel>(*dialog, 1007)->text(), "NO FLASH DEVICE SELECTED");
}

TEST_F(MainWindowTest, BrowseCancelledTurnsTheStatusRedAndKeepsThePath) {
    auto dialog = makeDialog();
    prompts_.nextFile.clear();
    control<QPushButton>(*dialog, 57601)->click();
    ASSERT_EQ(prompts_.fileDialogTitles.size(), 1u);
    EXPECT_EQ(prompts_.fileDialogTitles[0], "Load 8051 Image|Intel 8051 HEX Files (*.hex)");
    EXPECT_TRUE(statusIsRed(*dialog));
    EXPECT_EQ(control<QLabel>(*dialog, 1007)->text(), "Load Binary Flash Archive...");
    EXPECT_EQ(control<QLineEdit>(*dialog, 1000)->text(), "4255.hex");

    prompts_.nextFile = QString::fromStdString(hexPath_);
    control<QPushButton>(*dialog, 57601)->click();
    EXPECT_FALSE(statusIsRed(*dialog));
    EXPECT_EQ(control<QLabel>(*dialog, 1007)->text(), "Ready...");
    EXPECT_EQ(control<QLabel>(*dialog, 1012)->text(), "");
    EXPECT_EQ(control<QLineEdit>(*dialog, 1000)->text(), QString::fromStdString(hexPath_));
}

TEST_F(MainWindowTest, GoWithAMissingFileRefusesAndStartsNothing) {
    auto dialog = makeDialog();
    control<QLineEdit>(*dialog, 1000)->setText("/no/such/file.hex");
    control<QPushButton>(*dialog, 1)->click();
    EXPECT_EQ(control<QLabel>(*dialog, 1007)->text(), "Invalid Binary File");
    EXPECT_TRUE(statusIsRed(*dialog));
    EXPECT_TRUE(control<QPushButton>(*dialog, 1)->isEnabled());
    EXPECT_FALSE(control<QPushButton>(*dialog, 2)->isEnabled());
    EXPECT_EQ(dialog->job()->imageLength, 0);
    pumpEvents(30);
    EXPECT_EQ(factory_.requestCount(), 0u);
    EXPECT_FALSE(dialog->job()->workerThread.attached());
}

TEST_F(MainWindowTest, GoRefusesAPathTooLongForTheJobRecord) {
    fs::path folder = data_.path();
    for (int i = 0; i < 6; ++i) folder /= std::string(200, 'd');
    const fs::path file = rwtest::writeFile(folder / "image.hex", hexImage(0x1000));
    ASSERT_GT(file.string().size(), sizeof(rw::FlashJob::imagePath));
    auto dialog = makeDialog();
    control<QLineEdit>(*dialog, 1000)->setText(QString::fromStdString(file.string()));
    control<QPushButton>(*dialog, 1)->click();
    EXPECT_EQ(control<QLabel>(*dialog, 1007)->text(), "FILE PATH TOO LONG");
    EXPECT_EQ(dialog->job()->imagePath[0], '\0');
    pumpEvents(30);
    EXPECT_EQ(factory_.requestCount(), 0u);
}

TEST_F(MainWindowTest, GoWithoutASelectedModelRefuses) {
    auto dialog = makeDialog();
    control<QLineEdit>(*dialog, 1000)->setText(QString::fromStdString(hexPath_));
    control<QComboBox>(*dialog, 1017)->setCurrentIndex(-1);
    control<QPushButton>(*dialog, 1)->click();
    EXPECT_EQ(control<QLabel>(*dialog, 1007)->text(), "NO FLASH DEVICE SELECTED");
    pumpEvents(30);
    EXPECT_EQ(factory_.requestCount(), 0u);
}

TEST_F(MainWindowTest, HostTextLongerThan24CharactersFailsValidation) {
    writeSetting("Info/Driver", 2);
    writeSetting("Info/IP", QString("127.0.0.2:") + QString(20, '1'));
    auto dialog = makeDialog();
    EXPECT_EQ(control<QLineEdit>(*dialog, 1026)->text().size(), 30);  // stored text stays whole
    control<QPushButton>(*dialog, 1)->click();
    ASSERT_EQ(prompts_.messages.size(), 1u);
    EXPECT_EQ(prompts_.messages[0], "Please enter no more than 24 characters.");
    pumpEvents(30);
    EXPECT_EQ(factory_.requestCount(), 0u);
}

TEST_F(MainWindowTest, NetworkAddressIsSplitAtTheFirstColon) {
    const struct {
        const char* text;
        const char* host;
        int port;
    } cases[] = {{"127.0.0.2", "127.0.0.2", 3001},
                 {"127.0.0.2:", "127.0.0.2", 0},
                 {"127.0.0.2:4100:9", "127.0.0.2", 4100}};
    writeSetting("Info/Driver", 3);
    auto dialog = makeDialog();
    control<QLineEdit>(*dialog, 1000)->setText(QString::fromStdString(hexPath_));
    for (const auto& c : cases) {
        control<QLineEdit>(*dialog, 1026)->setText(c.text);
        const size_t before = factory_.requestCount();
        control<QPushButton>(*dialog, 1)->click();
        ASSERT_TRUE(waitFor([&] { return factory_.requestCount() == before + 1; })) << c.text;
        ASSERT_TRUE(waitFor([&] { return !dialog->isJobRunning(); })) << c.text;
        EXPECT_EQ(factory_.requests.back().hostName, c.host);
        EXPECT_EQ(factory_.requests.back().port, c.port);
        EXPECT_EQ(factory_.requests.back().linkKind, rw::LINK_UDP);
    }
}

TEST_F(MainWindowTest, SerialGoUsesTheSelectedComPort) {
    auto dialog = makeDialog();
    control<QLineEdit>(*dialog, 1000)->setText(QString::fromStdString(hexPath_));
    control<QComboBox>(*dialog, 1009)->setCurrentIndex(2);
    control<QPushButton>(*dialog, 1)->click();
    ASSERT_TRUE(waitFor([&] { return factory_.requestCount() == 1; }));
    EXPECT_EQ(factory_.requests[0].port, 3);
    EXPECT_EQ(factory_.requests[0].linkKind, rw::LINK_SERIAL);
}

TEST_F(MainWindowTest, AbortWhileIdleClearsTheFailureDisplay) {
    auto dialog = makeDialog();
    control<QPushButton>(*dialog, 57601)->click();  // cancelled: red
    ASSERT_TRUE(statusIsRed(*dialog));
    dialog->job()->imageLength = 100;
    dialog->onCancel();
    EXPECT_FALSE(statusIsRed(*dialog));
    EXPECT_EQ(control<QLabel>(*dialog, 1007)->text(), "");
    EXPECT_EQ(dialog->job()->imageLength, 0);
    EXPECT_EQ(dialog->job()->failed.load(), 0);
    EXPECT_TRUE(dialog->isVisible() || !dialog->quitRequested());
}

TEST_F(MainWindowTest, AbortWhileRunningEndsTheJobAsFailed) {
    factory_.device = Device::SilentOnWrites;
    writeSetting("Info/Device", 1);
    writeSetting("Info/Address", 42);
    writeSetting("Info/File", QString::fromStdString(hexPath_));
    auto dialog = makeDialog();
    control<QPushButton>(*dialog, 1)->click();
    ASSERT_TRUE(waitFor([&] { return factory_.requestCount() == 1; }));
    EXPECT_FALSE(control<QPushButton>(*dialog, 1)->isEnabled());
    EXPECT_TRUE(control<QPushButton>(*dialog, 2)->isEnabled());
    ASSERT_TRUE(waitFor([&] { return dialog->job()->imageLength > 0; }));
    control<QPushButton>(*dialog, 2)->click();
    EXPECT_EQ(control<QLabel>(*dialog, 1007)->text(), "Flash Download Aborted...");
    EXPECT_TRUE(statusIsRed(*dialog));
    EXPECT_TRUE(control<QPushButton>(*dialog, 1)->isEnabled());
    EXPECT_FALSE(control<QPushButton>(*dialog, 2)->isEnabled());
    ASSERT_TRUE(waitFor([&] { return failedList().size() == 1; }));
    EXPECT_EQ(failedList()[0], 42);
    ASSERT_TRUE(waitFor([&] { return !dialog->isJobRunning(); }));
    EXPECT_EQ(dialog->job()->failed.load(), 1);
}

TEST_F(MainWindowTest, LoggedStatusesGoToHistoryNewestFirstAndToTheLogInTimeOrder) {
    auto dialog = makeDialog();
    rw::FlashJob& job = *dialog->job();
    std::snprintf(job.statusText, sizeof job.statusText, "FIRST LINE");
    dialog->onFlashStatus(0, 1);
    std::snprintf(job.statusText, sizeof job.statusText, "NOT LOGGED");
    dialog->onFlashStatus(0, 0);
    std::snprintf(job.statusText, sizeof job.statusText, "SECOND LINE");
    dialog->onFlashStatus(1, 1);
    const QString history = control<QPlainTextEdit>(*dialog, 1021)->toPlainText();
    ASSERT_GT(history.indexOf("FIRST LINE"), history.indexOf("SECOND LINE"));
    EXPECT_EQ(history.indexOf("NOT LOGGED"), -1);
    EXPECT_TRUE(dialog->historyText.endsWith("  FIRST LINE\r\n"));
    EXPECT_EQ(control<QLabel>(*dialog, 1007)->text(), "SECOND LINE");
    const std::string log = logText();
    ASSERT_LT(log.find("  FIRST LINE\r\n"), log.find("  SECOND LINE\r\n"));
    EXPECT_EQ(log.find("SECOND LINE\r\n") + 13, log.size());
    EXPECT_EQ(log.find("NOT LOGGED"), std::string::npos);
}

TEST_F(MainWindowTest, ElapsedAndCrcLines) {
    rwtest::FakeClock clock(5'000);
    DialogOptions options;
    options.clock = &clock;
    auto dialog = makeDialog({}, options);
    dialog->startTick = static_cast<uint32_t>(clock.nowMs());
    clock.advanceMs(1500);
    std::snprintf(dialog->job()->statusText, sizeof dialog->job()->statusText, "SENT");
    dialog->onFlashStatus(0, 0);
    EXPECT_EQ(control<QLabel>(*dialog, 1016)->text(), "1.5 seconds");
    // The tick count is unsigned: a wrap between Go and the status changes nothing.
    dialog->startTick = 0xFFFFFF00u;
    clock.advanceMs(0);
    const uint32_t now = static_cast<uint32_t>(clock.nowMs());
    dialog->startTick = now - 2500u;
    dialog->onFlashStatus(0, 0);
    EXPECT_EQ(control<QLabel>(*dialog, 1016)->text(), "2.5 seconds");
    dialog->onFlashCrc(10);
    EXPECT_EQ(control<QLabel>(*dialog, 1012)->text(), "CRC8 = 0a hex");
    dialog->onFlashCrc(255);
    EXPECT_EQ(control<QLabel>(*dialog, 1012)->text(), "CRC8 = ff hex");
}

TEST_F(MainWindowTest, SettingsRoundTripThroughTheCloseCommand) {
    {
        auto dialog = makeDialog();
        control<QRadioButton>(*dialog, 1019)->click();
        control<QLineEdit>(*dialog, 1026)->setText("127.0.0.2:4321");
        control<QLineEdit>(*dialog, 1001)->setText("65535");
        control<QLineEdit>(*dialog, 1000)->setText("/tmp/some.hex");
        control<QComboBox>(*dialog, 1017)->setCurrentIndex(0);  // KVTC/1-3000, row 2
        control<QComboBox>(*dialog, 1009)->setCurrentIndex(4);
        rw::setSoundScheme("Chimes");
        dialog->closeCommand();
    }
    EXPECT_EQ(readSetting("Info/Driver").toInt(), 2);
    EXPECT_EQ(readSetting("Info/Device").toInt(), 2);
    EXPECT_EQ(readSetting("Info/Sounds").toString(), "Chimes");
    rw::setSoundScheme("");
    auto dialog = makeDialog();
    EXPECT_EQ(checkedLink(*dialog), 1019);
    EXPECT_EQ(control<QLineEdit>(*dialog, 1026)->text(), "127.0.0.2:4321");
    EXPECT_EQ(control<QLineEdit>(*dialog, 1001)->text(), "65535");
    EXPECT_EQ(control<QLineEdit>(*dialog, 1000)->text(), "/tmp/some.hex");
    EXPECT_EQ(control<QComboBox>(*dialog, 1017)->currentText(), "KVTC/1-3000");
    EXPECT_EQ(control<QComboBox>(*dialog, 1009)->currentText(), "COM5");
    EXPECT_EQ(readSetting("Info/BaudRate").toInt(), 9600);
}

TEST_F(MainWindowTest, ClosingWhileAJobRunsWaitsForTheWorkerThenWritesTheSettings) {
    factory_.device = Device::SilentOnWrites;
    writeSetting("Info/Device", 1);
    writeSetting("Info/File", QString::fromStdString(hexPath_));
    auto dialog = makeDialog();
    control<QLineEdit>(*dialog, 1001)->setText("4242");
    control<QPushButton>(*dialog, 1)->click();
    ASSERT_TRUE(waitFor([&] { return dialog->job()->imageLength > 0; }));
    dialog->closeCommand();
    EXPECT_EQ(dialog->job(), nullptr);
    EXPECT_EQ(readSetting("Info/Address").toInt(), 4242);
    EXPECT_EQ(readSetting("Info/File").toString(), QString::fromStdString(hexPath_));
    // The worker ended through the mode-off request, served while closing.
    EXPECT_GE(factory_.requestCount(), 1u);
    pumpEvents(30);  // its posted completion finds no record and changes nothing
    EXPECT_TRUE(failedList().empty());
}

TEST_F(MainWindowTest, GoDuringWindDownWaitsForTheLastWorker) {
    factory_.device = Device::SilentOnWrites;
    writeSetting("Info/Device", 1);
    writeSetting("Info/File", QString::fromStdString(hexPath_));
    auto dialog = makeDialog();
    control<QPushButton>(*dialog, 1)->click();
    ASSERT_TRUE(waitFor([&] { return dialog->job()->imageLength > 0; }));
    GateLink* link = factory_.link();
    link->arm();
    control<QPushButton>(*dialog, 2)->click();  // Abort: the worker winds down, held at the gate
    ASSERT_TRUE(waitFor([&] { return link->holding(); }));
    control<QPushButton>(*dialog, 1)->click();
    EXPECT_TRUE(dialog->goDeferred());
    EXPECT_EQ(control<QLabel>(*dialog, 1007)->text(), "WAITING FOR THE LAST JOB TO END...");
    pumpEvents(60);
    EXPECT_EQ(factory_.requestCount(), 1u);  // no second worker on the record
    link->open();
    ASSERT_TRUE(waitFor([&] { return factory_.requestCount() == 2; }));
    EXPECT_FALSE(dialog->goDeferred());
    EXPECT_EQ(dialog->job()->running.load(), 1);
    dialog->closeCommand();
}

TEST_F(MainWindowTest, EnterIsGoAndEscapeIsAbortAndNeitherEndsTheDialog) {
    auto dialog = makeDialog();
    dialog->show();
    control<QLineEdit>(*dialog, 1000)->setText("/no/such.hex");
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(dialog.get(), &enter);
    EXPECT_EQ(control<QLabel>(*dialog, 1007)->text(), "Invalid Binary File");
    EXPECT_TRUE(dialog->isVisible());
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(dialog.get(), &escape);
    EXPECT_EQ(control<QLabel>(*dialog, 1007)->text(), "");
    EXPECT_FALSE(statusIsRed(*dialog));
    EXPECT_TRUE(dialog->isVisible());
    dialog->closeCommand();
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(MainWindowTest, QuitRequestedBeforeTheEventLoopStillEndsIt) {
    DialogOptions options;
    options.windowless = true;
    auto dialog = makeDialog({"KVTC/1-4255", "5", "9600", "/no/such.hex"}, options);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, dialog.get(), [&] { dialog->done(99); });
    guard.start(5000);
    EXPECT_EQ(dialog->exec(), 1);
    EXPECT_EQ(dialog->exitCode(), 1);
}

TEST_F(MainWindowTest, CommandLineJobQuitsWithItsResult) {
    const struct {
        Device device;
        int exitCode;
    } cases[] = {{Device::Accepting, 0}, {Device::Unreachable, 1}};
    for (const auto& c : cases) {
        factory_.device = c.device;
        auto dialog = makeDialog({"KVTC/1-4255", "5", "38400", QString::fromStdString(hexPath_)});
        ASSERT_TRUE(waitFor([&] { return dialog->quitRequested(); }));
        EXPECT_EQ(dialog->exitCode(), c.exitCode);
        dialog.reset();
    }
    const std::string log = logText();
    EXPECT_NE(log.find("PORT INITIALIZE ERROR"), std::string::npos);
}

TEST_F(MainWindowTest, QueuedAddressesRunAfterThePauseAndTwoFailuresOfferTheRetry) {
    factory_.device = Device::Unreachable;
    writeSetting("Info/Device", 1);
    writeSetting("Info/File", QString::fromStdString(hexPath_));
    DialogOptions options;
    options.queuePauseMs = 20;
    auto dialog = makeDialog({}, options);
    QStringList retryCaptions;
    prompts_.onModal = [&](QDialog& modal) { retryCaptions << modal.windowTitle(); };
    pendingQueue() = {5, 9};
    failedList() = {9};
    dialog->postFlashDone(0);
    ASSERT_TRUE(waitFor([&] { return factory_.requestCount() == 2 && pendingQueue().empty(); }));
    ASSERT_TRUE(waitFor([&] { return !dialog->isJobRunning() && !retryCaptions.isEmpty(); }));
    pumpEvents(30);
    EXPECT_EQ(factory_.requests[0].deviceAddress, 5);
    EXPECT_EQ(factory_.requests[1].deviceAddress, 9);
    EXPECT_EQ(control<QLineEdit>(*dialog, 1001)->text(), "9");
    // 9 failed twice and is listed once; the retry dialog took the list over.
    EXPECT_EQ(retryCaptions, QStringList({"Retry 2 Failed Devices..."}));
    EXPECT_TRUE(failedList().empty());
}

TEST_F(MainWindowTest, OneFailureAtTheEndOfARunOpensNothing) {
    factory_.device = Device::Unreachable;
    writeSetting("Info/Device", 1);
    writeSetting("Info/File", QString::fromStdString(hexPath_));
    DialogOptions options;
    options.queuePauseMs = 20;
    auto dialog = makeDialog({}, options);
    pendingQueue() = {7};
    dialog->postFlashDone(0);
    ASSERT_TRUE(waitFor([&] { return factory_.requestCount() == 1; }));
    ASSERT_TRUE(waitFor([&] { return !dialog->isJobRunning() && failedList().size() == 1; }));
    pumpEvents(30);
    EXPECT_EQ(failedList(), AddressList({7}));
    EXPECT_EQ(prompts_.modalCount, 0);
}

}  // namespace
