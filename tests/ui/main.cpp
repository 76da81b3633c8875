// Runs the widget tests inside one QApplication on the offscreen platform, with
// a private settings and data location so no test touches the user's own.
#include <gtest/gtest.h>
#include <QApplication>
#include <QStandardPaths>
#include <cstdlib>

#include "support/TestEnv.h"

int main(int argc, char** argv) {
    rwtest::TempDir home;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("HOME", home.str().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home.str() + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home.str() + "/data").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (home.str() + "/run").c_str(), 1);
    QApplication app(argc, argv);
    QApplication::setApplicationName("romwright-test");
    QStandardPaths::setTestModeEnabled(true);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
