#pragma once
// Shared pieces of the main window's tests: a private settings store and data
// folder per test, answered prompts, links that a test can hold, HEX files.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QSettings>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/FlashJob.h"
#include "engine/Sounds.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeLink.h"
#include "fakes/ReplyBuilder.h"
#include "fakes/TestEnv.h"
#include "ui/AddressLists.h"
#include "ui/AppSettings.h"
#include "ui/ProgrammerDialog.h"
#include "ui/UserPrompts.h"

namespace wintest {

// Runs the window thread's events until pred holds or timeoutMs passed.
inline bool waitFor(const std::function<bool()>& pred, int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

// Lets queued calls run for a while, without a condition.
inline void pumpEvents(int ms) {
    waitFor([] { return false; }, ms);
}

// Prompts that a test answers: records every message and modal dialog.
class ScriptedPrompts : public UserPrompts {
public:
    void message(QWidget*, const QString& text) override { messages.push_back(text); }
    QString openFileName(QWidget*, const QString& title, const QString&,
                         const QString& filter) override {
        fileDialogTitles.push_back(title + "|" + filter);
        return nextFile;
    }
    void runModal(QDialog& dialog) override {
        if (onModal) onModal(dialog);
        ++modalCount;
    }
    QAction* popupMenu(QMenu& menu, const QPoint&) override {
        return menuAnswer ? menuAnswer(menu) : nullptr;
    }

    std::vector<QString> messages;
    std::vector<QString> fileDialogTitles;
    QString nextFile;
    int modalCount = 0;
    std::function<void(QDialog&)> onModal;
    std::function<QAction*(QMenu&)> menuAnswer;
};

// A fake link whose writes can be held at a gate, so a test can keep a worker
// busy (winding down, for example) for as long as it needs.
class GateLink : public rwtest::FakeLink {
public:
    using FakeLink::FakeLink;
    void arm() {
        std::lock_guard lock(mutex_);
        armed_ = true;
    }
    void open() {
        {
            std::lock_guard lock(mutex_);
            armed_ = false;
        }
        opened_.notify_all();
    }
    bool holding() const { return holding_.load(); }
    uint32_t write(const uint8_t* data, uint32_t length) override {
        {
            std::unique_lock lock(mutex_);
            if (armed_) {
                holding_ = true;
                opened_.wait_for(lock, std::chrono::seconds(10), [this] { return !armed_; });
                holding_ = false;
            }
        }
        return FakeLink::write(data, length);
    }

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool armed_ = false;
    std::atomic<bool> holding_{false};
};

// What the worker's job record held when its link was made.
struct LinkRequest {
    int linkKind = 0;
    std::string hostName;
    int port = 0;
    int baudRate = 0;
    int deviceAddress = 0;
    std::string modelName;
};

// The device's behaviour for the links a test hands out.
enum class Device { Accepting, SilentOnWrites, Unreachable };

// A device that answers everything except block writes (command 0xF0).
inline rwtest::Responder silentOnWrites() {
    return [](const rwtest::Bytes& frame) -> rwtest::ReplyPieces {
        if (frame.size() > 5 && frame[5] == 0xF0) return {};
        return {rwtest::buildReply(frame)};
    };
}

// Hands out GateLinks and records every request for one.
class LinkFactory {
public:
    Device device = Device::Accepting;
    std::vector<LinkRequest> requests;
    GateLink* lastLink = nullptr;  // valid while the worker that made it runs
    std::mutex mutex;

    rw::WorkerServices services() {
        rw::WorkerServices services;
        services.makeLink = [this](rw::FlashJob& job) -> std::unique_ptr<rw::Transport> {
            auto link = std::make_unique<GateLink>(
                job.linkKind == 2 || job.linkKind == 3 ? job.linkKind : rw::LINK_SERIAL, job.port);
            if (device == Device::Unreachable) link->setOpenError(rw::LINK_FAIL);
            link->setResponder(device == Device::SilentOnWrites ? silentOnWrites()
                                                                : rwtest::acceptingResponder());
            std::lock_guard lock(mutex);
            requests.push_back({job.linkKind, job.hostName, job.port, job.baudRate,
                                job.deviceAddress, job.model ? job.model->name : ""});
            lastLink = link.get();
            return link;
        };
        return services;
    }
    size_t requestCount() {
        std::lock_guard lock(mutex);
        return requests.size();
    }
    GateLink* link() {
        std::lock_guard lock(mutex);
        return lastLink;
    }
};

// An Intel HEX file of one 16-byte record at address, and the end record.
inline std::string hexImage(uint16_t address) {
    char line[64];
    unsigned sum = 0x10 + (address >> 8) + (address & 0xFF);
    std::string data;
    for (int i = 0; i < 16; ++i) {
        char byte[3];
        std::snprintf(byte, sizeof byte, "%02X", i);
        data += byte;
        sum += static_cast<unsigned>(i);
    }
    std::snprintf(line, sizeof line, ":10%04X00%s%02X\n", address, data.c_str(),
                  (0x100 - (sum & 0xFF)) & 0xFF);
    return std::string(line) + ":00000001FF\n";
}

// Every test starts with an empty settings store, its own data folder, empty
// address lists and answered prompts.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        openSettings()->clear();
        rw::setDataFolder(data_.str());
        rw::setSoundScheme("");
        pendingQueue().clear();
        failedList().clear();
        setUserPrompts(&prompts_);
        hexPath_ = rwtest::writeFile(data_.path() / "image.hex", hexImage(0x1000)).string();
    }
    void TearDown() override {
        setUserPrompts(nullptr);
        pendingQueue().clear();
        failedList().clear();
        openSettings()->clear();
    }

    void writeSetting(const QString& key, const QVariant& value) {
        auto settings = openSettings();
        settings->setValue(key, value);
        settings->sync();
    }
    QVariant readSetting(const QString& key) {
        auto settings = openSettings();
        settings->sync();
        return settings->value(key);
    }

    // A dialog on links from factory_, for model KVTC/1-4255 (row 1) unless
    // the test chose otherwise.
    std::unique_ptr<ProgrammerDialog> makeDialog(QStringList arguments = {},
                                                 DialogOptions options = {}) {
        options.arguments = std::move(arguments);
        options.services = factory_.services();
        options.siblingServer = QStringLiteral("romwright-test-no-sibling-%1").arg(::getpid());
        return std::make_unique<ProgrammerDialog>(options);
    }

    std::string logText() const {
        std::FILE* file = std::fopen((data_.str() + "/Romwright.log").c_str(), "rb");
        if (file == nullptr) return {};
        std::string text;
        char buffer[4096];
        size_t count;
        while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, count);
        std::fclose(file);
        return text;
    }

    rwtest::TempDir data_;
    ScriptedPrompts prompts_;
    LinkFactory factory_;
    std::string hexPath_;
};

}  // namespace wintest
