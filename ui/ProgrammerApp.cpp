#include "ui/ProgrammerApp.h"

#include <signal.h>

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "engine/Sounds.h"
#include "link/SocketApi.h"
#include "ui/AppSettings.h"
#include "ui/Artwork.h"
#include "ui/ProgrammerDialog.h"
#include "ui/QtSoundPlayer.h"
#include "ui/SoundEffectOutput.h"

namespace rw {

namespace {
const char* const kVersion = ROMWRIGHT_VERSION;

bool hasEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}
}  // namespace

const char* usageText() {
    return "usage: romwright [MODEL [ADDRESS [BAUDRATE [FILE.hex]]]]\n"
           "  Without arguments the window opens. With arguments the job starts at once and\n"
           "  the program exits 0 when the device was programmed, 1 otherwise; without a\n"
           "  display it runs without a window.\n"
           "  --help     this text\n"
           "  --version  the program's version\n";
}

StartupPlan planStartup(const QStringList& arguments, bool qpaPlatformSet, bool displayAvailable) {
    StartupPlan plan;
    if (arguments.size() == 1 && arguments[0] == QStringLiteral("--help")) {
        plan.kind = StartupPlan::Kind::Help;
        return plan;
    }
    if (arguments.size() == 1 && arguments[0] == QStringLiteral("--version")) {
        plan.kind = StartupPlan::Kind::Version;
        return plan;
    }
    plan.commandLine = !arguments.isEmpty();
    if (qpaPlatformSet) return plan;
    if (plan.commandLine) {
        // A stale display falls back to running without a window.
        plan.platformList = displayAvailable ? "xcb;offscreen" : "offscreen";
    } else if (!displayAvailable) {
        plan.kind = StartupPlan::Kind::NoDisplay;
    }
    return plan;
}

int runProgrammerApp(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const bool display = hasEnvironment("DISPLAY") || hasEnvironment("WAYLAND_DISPLAY");
    const StartupPlan plan = planStartup(arguments, hasEnvironment("QT_QPA_PLATFORM"), display);
    switch (plan.kind) {
        case StartupPlan::Kind::Help:
            std::fputs(usageText(), stdout);
            return 0;
        case StartupPlan::Kind::Version:
            std::printf("romwright %s\n", kVersion);
            return 0;
        case StartupPlan::Kind::NoDisplay:
            std::fprintf(stderr,
                         "romwright: no display; give a command line (MODEL ADDRESS BAUDRATE "
                         "FILE.hex) to run without a window, or --help\n");
            return 2;
        case StartupPlan::Kind::Run:
            break;
    }
    if (plan.platformList) ::setenv("QT_QPA_PLATFORM", plan.platformList->c_str(), 1);
    // A peer that closed its end must never kill the process.
    ::signal(SIGPIPE, SIG_IGN);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QFileInfo(QString::fromLocal8Bit(argv[0])).completeBaseName());
    // Lets the desktop match the window to its entry and icon (the installed desktop file's name).
    QGuiApplication::setDesktopFileName(QStringLiteral("com.kvtcontrols.Romwright"));
    if (!socketapi::startUp()) {
        QMessageBox::warning(nullptr, QApplication::applicationName(), resourceString(103),
                             QMessageBox::Ok);
        return 0;
    }
    const bool windowless = QGuiApplication::platformName() == QStringLiteral("offscreen");
    if (windowless && !plan.commandLine) {
        std::fprintf(stderr, "romwright: no display and no command line; nothing to do (--help)\n");
        return 2;
    }

    const QString dataFolder = defaultDataFolder();
    prepareDataFolder(dataFolder);
    setDataFolder(dataFolder.toStdString());
    setSoundScheme(
        openSettings()->value(QStringLiteral("Info/Sounds"), QString()).toString().toStdString());

    SoundEffectOutput soundOutput;
    QtSoundPlayer soundPlayer(soundOutput);
    DialogOptions options;
    options.arguments = arguments;
    options.windowless = windowless;
    options.commandLineOutput = plan.commandLine;
    options.handleSignals = plan.commandLine;
    options.services.sound = &soundPlayer;
    options.serialRoot = QStringLiteral("/");

    auto dialog = std::make_unique<ProgrammerDialog>(options);
    dialog->exec();
    const int exitCode = dialog->quitRequested() ? dialog->exitCode() : 0;
    dialog.reset();
    return exitCode;
}

}  // namespace rw
