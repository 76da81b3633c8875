// romwright-batch reads the window's settings file without Qt: the COM ports
// the close command stores and the keys the window only reads, with values that
// the settings store quotes or escapes, as the window itself reads them.
#include <gtest/gtest.h>

#include <QSettings>

#include "tools/batch/SettingsFile.h"
#include "ui/AppSettings.h"
#include "ui/MainSettings.h"

namespace rwtest {
namespace {

TEST(BatchSettings, ReadsTheFileTheWindowsSettingsStoreWrote) {
    rw::openSettings()->clear();
    rw::ComPortPaths ports;
    ports[0] = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    ports[2] = " /dev/tty USB2, \"one\";=\\\tä ";
    ports[7] = "@ttyS7";
    rw::MainSettings().write(QString(), ports);
    rw::openSettings()->setValue("Info/StallSeconds", 15);
    rw::openSettings()->setValue("Info/RecordFile", "/srv/records/line 1;2.jsonl");
    const std::string file = rw::openSettings()->fileName().toStdString();
    rw::BatchSettings read = rw::readBatchSettings(rw::SettingsFile::load(file));
    EXPECT_EQ(read.ports, ports);
    EXPECT_EQ(read.ports, rw::MainSettings::read(5).ports);
    EXPECT_EQ(read.stallSeconds, 15);
    EXPECT_EQ(read.recordFile, "/srv/records/line 1;2.jsonl");

    rw::openSettings()->clear();
    read = rw::readBatchSettings(rw::SettingsFile::load(file));
    EXPECT_EQ(read.ports, rw::ComPortPaths{});
    EXPECT_EQ(read.stallSeconds, 60);
    EXPECT_EQ(read.recordFile, "");
}

}  // namespace
}  // namespace rwtest
