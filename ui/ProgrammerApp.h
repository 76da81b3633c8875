#pragma once
#include <QStringList>
#include <optional>
#include <string>

namespace rw {

// Start-up of the program: the settings store, the data folder and sound
// scheme, then the main dialog run modally; the exit code is the quit request's
// (the job's failed flag in command-line mode), 0 after an interactive close.
int runProgrammerApp(int argc, char** argv);

// What the process arguments ask for before any window exists.
struct StartupPlan {
    enum class Kind { Run, Help, Version, NoDisplay };
    Kind kind = Kind::Run;
    bool commandLine = false;  // arguments given: start the job at once
    // The Qt platform list to ask for, when the caller did not choose one.
    std::optional<std::string> platformList;
};

// arguments: without the program's name. qpaPlatformSet: the caller set
// QT_QPA_PLATFORM. displayAvailable: an X11 or Wayland display is named.
StartupPlan planStartup(const QStringList& arguments, bool qpaPlatformSet, bool displayAvailable);

// The one-line usage text of --help.
const char* usageText();

}  // namespace rw
