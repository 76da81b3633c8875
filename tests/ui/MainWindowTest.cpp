// The main window: settings, command line, browse, Go refusals, status, the COM
// list and close.
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <filesystem>

#include "WindowTestSupport.h"
#include "ui/CommandLine.h"
#include "ui/MainSettings.h"
#include "ui/PortList.h"

namespace rwtest {
namespace {

// The text of the checked link button, empty when none is.
QString checkedLink(rw::ProgrammerDialog& dialog) {
    for (QRadioButton* button : dialog.linkButtons) {
        if (button->isChecked()) return button->text();
    }
    return {};
}

bool statusIsRed(rw::ProgrammerDialog& dialog) {
    const QPalette colours = dialog.statusLabel->palette();
    return dialog.statusLabel->autoFillBackground() &&
           colours.color(QPalette::Window) == QColor(255, 0, 0) &&
           colours.color(QPalette::WindowText) == QColor(255, 255, 255);
}

// What some controls show; null fields are not looked at.
struct Shown {
    const char *port = nullptr, *model = nullptr, *address = nullptr, *file = nullptr,
               *status = nullptr, *host = nullptr;
};

void expectShown(rw::ProgrammerDialog& dialog, const Shown& expected) {
    const std::pair<QWidget*, const char*> checks[] = {
        {dialog.portList, expected.port},       {dialog.modelList, expected.model},
        {dialog.addressEdit, expected.address}, {dialog.fileEdit, expected.file},
        {dialog.statusLabel, expected.status},  {dialog.hostPortEdit, expected.host}};
    for (const auto& [widget, text] : checks) {
        if (text == nullptr) continue;
        EXPECT_EQ(shown(widget), text) << widget->objectName().toStdString();
    }
}

using MainWindowTest = WindowTest;

TEST_F(MainWindowTest, StartsFromTheStoredSettingsOrTheirDefaults) {
    const struct {
        std::vector<std::pair<QString, QVariant>> stored;
        const char* link;
        Shown texts;
        std::vector<std::pair<QString, int>> afterClose;
    } cases[] = {{{},
                  "SERIAL 9600 bps",
                  {.port = "COM1",
                   .model = "KVTC/1-4400",
                   .address = "101",
                   .file = "4255.hex",
                   .status = "Load Binary Flash Archive...",
                   .host = "192.168.0.100:3001"},
                  {{"Info/BaudRate", 9600}, {"Info/Driver", 1}, {"Info/Address", 101}}},
                 {{{"Info/Driver", 3}, {"Info/BaudRate", 19200}, {"Info/IP", "127.0.0.2:4001"}},
                  "UDP/IP Network",
                  {.host = "127.0.0.2:4001"},
                  {{"Info/BaudRate", 19200}, {"Info/Driver", 3}}},
                 {{{"Info/Driver", 4}, {"Info/Device", 5}, {"Info/Port", 12}},
                  "SERIAL 9600 bps",
                  {.port = "", .model = "KVTC/1-4400"},
                  {{"Info/Driver", 1}, {"Info/Device", 0}}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.link);
        rw::openSettings()->clear();
        for (const auto& [key, value] : c.stored) writeSetting(key, value);
        auto dialog = makeDialog();
        EXPECT_EQ(checkedLink(*dialog), c.link);
        EXPECT_EQ(dialog->hostPortEdit->isHidden(), c.link == QStringLiteral("SERIAL 9600 bps"));
        expectShown(*dialog, c.texts);
        EXPECT_EQ(shown(dialog->crcLabel), "CRC-8");
        // The status line is the wide field under the history, the CRC the small one.
        EXPECT_GT(dialog->statusLabel->width(), 2 * dialog->crcLabel->width());
        EXPECT_FALSE(dialog->abortButton->isEnabled());
        dialog->closeCommand();
        for (const auto& [key, value] : c.afterClose) EXPECT_EQ(readSetting(key).toInt(), value);
    }
    // Keys only read: the command line's stall limit and the production record.
    rw::openSettings()->clear();
    const rw::MainSettings defaults = rw::MainSettings::read(5);
    EXPECT_EQ(defaults.stallSeconds, 60);
    EXPECT_EQ(defaults.recordPath("/d/"), "/d/Production.jsonl");
    for (const auto& [text, seconds] : {std::pair{"sixty", 60}, {"0", 0}, {"15", 15}}) {
        writeSetting("Info/StallSeconds", text);
        EXPECT_EQ(rw::MainSettings::read(5).stallSeconds, seconds) << text;
    }
}

// Tokens are read by position until one is missing or not a number where one is
// due; a token longer than its field refuses the start.
TEST(CommandLineParse, ReadsUntilATokenDoesNotFit) {
    using Args = QStringList;
    const QString model32(32, 'M'), file256 = "/" + QString(255, 'f');
    const struct {
        Args args;
        int tokens;  // model, address, rate, file read
        const char* refusal;
    } cases[] = {{{"M", "5", "4800", "f.hex", "extra"}, 4, ""},
                 {{"M", "x", "4800", "f.hex"}, 1, ""},
                 {{"M", "5", "fast", "f.hex"}, 2, ""},
                 {{"M", "5", "4800", ""}, 3, ""},
                 {{model32, "5", "4800", file256}, 4, ""},
                 {{model32 + "M", "5"}, 0, "MODEL NAME TOO LONG"},
                 {{"M", "5", "4800", file256 + "f"}, 3, "FILE NAME TOO LONG"},
                 {{}, 0, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').left(40).toStdString());
        const rw::CommandLine line = rw::CommandLine::parse(c.args);
        EXPECT_EQ(line.refusal, c.refusal);
        using Text = std::optional<QString>;
        using Number = std::optional<int>;
        EXPECT_EQ(line.model, c.tokens > 0 ? Text(c.args[0]) : std::nullopt);
        EXPECT_EQ(line.address, c.tokens > 1 ? Number(5) : std::nullopt);
        EXPECT_EQ(line.baudRate, c.tokens > 2 ? Number(4800) : std::nullopt);
        EXPECT_EQ(line.file, c.tokens > 3 ? Text(c.args[3]) : std::nullopt);
    }
}

// Successful rows start at once; refused rows ("refusal" set) run with a window and
// without one, and start nothing.
TEST_F(MainWindowTest, CommandLineFillsTheControlsAndStartsOrRefuses) {
    const QStringList full = {"KVTC/2", "250", "38400", "@"};  // "@": the test's HEX file
    const struct {
        QStringList arguments;
        int driver;
        const char *model, *address, *button;
        int linkKind, baudRate;
        const char* refusal = nullptr;
        bool messageBox = false;  // the refusal comes as a message with a window
    } cases[] = {
        {full, 1, "KVTC/2-5140", "250", "SERIAL 38400 bps", rw::LINK_SERIAL, 38400},
        {full, 2, "KVTC/2-5140", "250", "TCP/IP Network", rw::LINK_TCP, 38400},
        {{"kvtc/1-4255", "5", "4800", "@"}, 1, "KVTC/1-4255", "5", "", rw::LINK_SERIAL, 4800},
        {{"KVTC/1-4255"}, 1, "KVTC/1-4255", "77", "SERIAL 9600 bps", rw::LINK_SERIAL, 9600},
        {{QString(33, 'K'), "5", "9600", "@"}, 1, "", "", "", 0, 0, "MODEL NAME TOO LONG"},
        {{"KVTC/1-4255", "5", "9600", "/none/x.hex"}, 1, "", "", "", 0, 0, "Invalid Binary File"},
        {{"KVTC/1-4255", "70000", "9600", "@"},
         1,
         "",
         "",
         "",
         0,
         0,
         "Please enter an integer between 0 and 65535.",
         true}};
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
            rw::DialogOptions options;
            options.windowless = windowless;
            options.commandLineOutput = true;  // as the program runs any command line
            auto dialog = makeDialog(
                QStringList(c.arguments).replaceInStrings("@", QString::fromStdString(hexPath_)),
                options);
            if (c.refusal != nullptr) {
                EXPECT_EQ(dialog->controller().state(), rw::JobState::Idle);
                EXPECT_TRUE(factory_.addresses().empty());
                EXPECT_EQ(dialog->quitRequested(), windowless) << "a window stays open";
                EXPECT_EQ(dialog->exitCode(), windowless ? 1 : 0);
                const bool boxed = c.messageBox && !windowless;
                EXPECT_EQ(prompts_.messages,
                          boxed ? std::vector<QString>{c.refusal} : std::vector<QString>{});
                if (!windowless && !boxed) {
                    EXPECT_EQ(shown(dialog->statusLabel), c.refusal);
                    EXPECT_TRUE(statusIsRed(*dialog));
                }
                continue;
            }
            EXPECT_EQ(dialog->modelList->currentText(), c.model);
            EXPECT_EQ(dialog->models()[0]->name, c.arguments[0].toStdString());
            EXPECT_EQ(shown(dialog->addressEdit), c.address);
            EXPECT_EQ(checkedLink(*dialog), c.button);
            ASSERT_TRUE(waitFor([&] { return dialog->quitRequested(); }));
            EXPECT_EQ(dialog->exitCode(), 0);
            ASSERT_EQ(factory_.addresses(), std::vector<int>{QString(c.address).toInt()});
            const LinkRequest& request = factory_.requests[0];
            EXPECT_EQ(std::tie(request.linkKind, request.baudRate, request.modelName),
                      std::tie(c.linkKind, c.baudRate, c.model));
            if (c.linkKind == rw::LINK_TCP) {
                EXPECT_EQ(std::tie(request.hostName, request.port),
                          std::make_tuple(std::string("127.0.0.2"), 4000));
            }
        }
    }
}

TEST_F(MainWindowTest, BrowseCancelledOrEnterOnAMissingFileTurnTheStatusRed) {
    auto dialog = makeDialog();
    dialog->show();
    dialog->browseButton->click();
    EXPECT_TRUE(statusIsRed(*dialog));
    EXPECT_EQ(shown(dialog->fileEdit), "4255.hex");
    auto press = [&](int key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(dialog.get(), &event);
    };
    press(Qt::Key_Escape);
    EXPECT_FALSE(statusIsRed(*dialog));
    dialog->fileEdit->setText("/no/such.hex");
    press(Qt::Key_Return);
    EXPECT_EQ(shown(dialog->statusLabel), "Invalid Binary File");
    ASSERT_TRUE(statusIsRed(*dialog));
    EXPECT_EQ(dialog->controller().state(), rw::JobState::Idle);
    EXPECT_TRUE(factory_.addresses().empty());
    press(Qt::Key_Escape);
    EXPECT_EQ(shown(dialog->statusLabel), "");
    EXPECT_FALSE(statusIsRed(*dialog));
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(MainWindowTest, LoggedStatusesGoToHistoryNewestFirstAndToTheLog) {
    auto dialog = makeDialog();
    for (auto [text, ended, logged] :
         {std::tuple{"FIRST LINE", 0, 1}, {"NOT LOGGED", 0, 0}, {"SECOND LINE", 1, 1}}) {
        std::snprintf(dialog->job()->statusText, sizeof dialog->job()->statusText, "%s", text);
        dialog->onFlashStatus(ended, logged);
    }
    const QString history = dialog->historyEdit->toPlainText();
    EXPECT_GT(history.indexOf("FIRST LINE"), history.indexOf("SECOND LINE"));
    EXPECT_EQ(history.indexOf("NOT LOGGED"), -1);
    EXPECT_EQ(shown(dialog->statusLabel), "SECOND LINE");
    const std::string log = readFile(data_.path() / "Romwright.log");
    EXPECT_LT(log.find("  FIRST LINE\r\n"), log.find("  SECOND LINE\r\n"));
    EXPECT_EQ(log.find("NOT LOGGED"), std::string::npos);
}

TEST_F(MainWindowTest, SettingsRoundTripThroughTheCloseCommand) {
    {
        auto dialog = makeDialog();
        dialog->linkButtons[3]->click();  // 38400 bit/s, kept over the network link
        dialog->linkButtons[5]->click();  // TCP/IP Network
        dialog->hostPortEdit->setText("127.0.0.2:4321");
        dialog->addressEdit->setText("65535");
        dialog->fileEdit->setText("/tmp/some.hex");
        dialog->modelList->setCurrentIndex(0);
        dialog->portList->setCurrentIndex(4);
        rw::setSoundScheme("Chimes");
        dialog->closeCommand();
    }
    EXPECT_EQ(readSetting("Info/Sounds").toString(), "Chimes");
    EXPECT_EQ(readSetting("Info/BaudRate").toInt(), 38400);
    auto dialog = makeDialog();
    EXPECT_EQ(checkedLink(*dialog), "TCP/IP Network");
    expectShown(*dialog, {.port = "COM5",
                          .model = "KVTC/1-3000",
                          .address = "65535",
                          .file = "/tmp/some.hex",
                          .host = "127.0.0.2:4321"});
    dialog->linkButtons[4]->click();  // UDP
    dialog->closeCommand();
    EXPECT_EQ(readSetting("Info/Driver").toInt(), rw::LINK_UDP);
}

// The COM list over a fake device tree: entries win, the other numbers take the
// devices present (at start, and again when the drop-down opens, where a number
// keeps a device once given). Go on a device that is gone says why in the status
// line's tooltip, beside a record file that cannot be written; the close command
// keeps the mapping.
TEST_F(MainWindowTest, ComListNamesTheDevicesPresentAndAPortThatFailsToOpenSaysWhy) {
    TempDir root;
    for (const char* entry : {"ttyS0 type=4", "ttyS1 type=0", "ttyUSB0", "usb-Test_A -> ttyUSB0"})
        addFakeSerialEntry(root.path(), entry);
    writeSetting("Ports/COM2", "/dev/ttyACM7");
    writeSetting("Info/File", QString::fromStdString(hexPath_));
    const std::string records = root.str() + "/missing/Production.jsonl";
    writeSetting("Info/RecordFile", QString::fromStdString(records));
    rw::DialogOptions options;  // the real links
    options.serialRoot = QString::fromStdString(root.str());
    options.siblingServer = QStringLiteral("romwright-test-no-sibling-%1").arg(::getpid());
    auto dialog = std::make_unique<rw::ProgrammerDialog>(options);
    QComboBox& list = *dialog->portList;
    const auto dropDown = [&] {
        QStringList rows;
        for (int row = 0; row < 5; ++row)
            rows << list.itemData(row, rw::PortList::kPopupTextRole).toString();
        return rows;
    };
    EXPECT_EQ(dropDown(), QStringList({"COM1  ttyUSB0", "COM2  ttyACM7", "COM3  ttyS0",
                                       "COM4  ttyS3", "COM5  ttyS4"}));
    EXPECT_EQ(list.toolTip(), "/dev/serial/by-id/usb-Test_A");
    std::filesystem::remove(root.path() / "dev/serial/by-id/usb-Test_A");
    std::filesystem::remove_all(root.path() / "sys/class/tty/ttyUSB0");
    for (const char* entry : {"ttyUSB1", "usb-Test_B -> ttyUSB1"})
        addFakeSerialEntry(root.path(), entry);
    list.showPopup();
    EXPECT_EQ(dropDown(), QStringList({"COM1  usb-Test_A", "COM2  ttyACM7", "COM3  ttyS0",
                                       "COM4  ttyUSB1", "COM5  ttyS4"}));
    list.hidePopup();

    dialog->onOk();
    ASSERT_TRUE(waitFor([&] { return dialog->controller().state() == rw::JobState::Idle; }));
    EXPECT_EQ(shown(dialog->statusLabel), "COM1 PORT INITIALIZE ERROR");
    EXPECT_TRUE(statusIsRed(*dialog));
    EXPECT_EQ(dialog->statusLabel->toolTip().toStdString(),
              "COM1 (/dev/serial/by-id/usb-Test_A): no such device\nproduction record " + records +
                  ": No such file or directory");
    dialog->closeCommand();
    const std::vector<std::pair<QString, QString>> stored = {
        {"Ports/COM1", "/dev/serial/by-id/usb-Test_A"},
        {"Ports/COM2", "/dev/ttyACM7"},
        {"Ports/COM3", "/dev/ttyS0"},
        {"Ports/COM4", "/dev/serial/by-id/usb-Test_B"},
        {"Ports/COM5", ""}};
    for (const auto& [key, path] : stored)
        EXPECT_EQ(readSetting(key).toString(), path) << key.toStdString();
}

}  // namespace
}  // namespace rwtest
