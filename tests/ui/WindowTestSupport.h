#pragma once
// Shared pieces of the widget tests: a private settings store and data folder per
// test, answered prompts, fake links that a test can hold, a HEX file.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QSettings>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "control/AddressLists.h"
#include "engine/Sounds.h"
#include "support/FakeLink.h"
#include "support/ReplyBuilder.h"
#include "support/TestEnv.h"
#include "ui/AppSettings.h"
#include "ui/ProgrammerDialog.h"
#include "ui/UserPrompts.h"

namespace rwtest {

using rw::AddressList;
using rw::failedList;
using rw::pendingQueue;

// Runs the window thread's events until pred holds or timeoutMs passed.
inline bool waitFor(const std::function<bool()>& pred, int timeoutMs = 5000) {
    QElapsedTimer timer;
    for (timer.start(); !pred(); QThread::msleep(1)) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

struct ScriptedPrompts : rw::UserPrompts {
    void message(QWidget*, const QString& text) override { messages.push_back(text); }
    QString openFileName(QWidget*, const QString&, const QString&, const QString&) override {
        return {};
    }
    void runModal(QDialog& dialog) override {
        if (onModal) onModal(dialog);
    }
    QAction* popupMenu(QMenu& menu, const QPoint&) override {
        return menuAnswer ? menuAnswer(menu) : nullptr;
    }
    std::vector<QString> messages;
    std::function<void(QDialog&)> onModal;
    std::function<QAction*(QMenu&)> menuAnswer;
};

// A fake link whose writes can be held at a gate, to keep a worker busy.
class GateLink : public FakeLink {
  public:
    using FakeLink::FakeLink;
    void setArmed(bool armed) {
        std::lock_guard lock(mutex_);
        armed_ = armed;
        opened_.notify_all();
    }
    std::atomic<bool> holding{false};
    uint32_t write(const uint8_t* data, uint32_t length) override {
        {
            std::unique_lock lock(mutex_);
            holding = armed_;
            opened_.wait_for(lock, std::chrono::seconds(10), [this] { return !armed_; });
            holding = false;
        }
        return FakeLink::write(data, length);
    }

  private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool armed_ = false;
};

struct LinkRequest {
    int linkKind, port, baudRate, deviceAddress;
    std::string hostName, modelName;
};

// Hands out GateLinks (silent on block writes, if asked) and records each request.
class LinkFactory {
  public:
    bool silentOnWrites = false;
    std::vector<LinkRequest> requests;
    GateLink* lastLink = nullptr;  // valid while the worker that made it runs
    std::mutex mutex;

    rw::WorkerServices services() {
        rw::WorkerServices services;
        services.makeLink = [this](rw::FlashJob& job) -> std::unique_ptr<rw::Transport> {
            auto link = std::make_unique<GateLink>(
                job.linkKind == 2 || job.linkKind == 3 ? job.linkKind : rw::LINK_SERIAL, job.port);
            link->setResponder([silent = silentOnWrites](const Bytes& frame) {
                if (silent && frame.size() > 5 && frame[5] == 0xF0) return ReplyPieces{};
                return ReplyPieces{buildReply(frame, {})};
            });
            std::lock_guard lock(mutex);
            requests.push_back({job.linkKind, job.port, job.baudRate, job.deviceAddress,
                                job.hostName, job.model ? job.model->name : ""});
            lastLink = link.get();
            return link;
        };
        return services;
    }
    std::vector<int> addresses() {
        std::lock_guard lock(mutex);
        std::vector<int> result;
        for (const auto& request : requests) result.push_back(request.deviceAddress);
        return result;
    }
    GateLink* link() {
        std::lock_guard lock(mutex);
        return lastLink;
    }
};

// One 16-byte record (00..0F) at 0x1000, and the end record.
inline const std::string kHexImage = ":10100000000102030405060708090A0B0C0D0E0F68\n:00000001FF\n";

// Every test starts with an empty settings store, its own data folder, empty
// address lists, sounds off and answered prompts.
class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TearDown();
        rw::setDataFolder(data_.str());
        rw::setSoundScheme("");
        rw::setUserPrompts(&prompts_);
        hexPath_ = writeFile(data_.path() / "image.hex", kHexImage).string();
    }
    void TearDown() override {
        rw::setUserPrompts(nullptr);
        pendingQueue().clear();
        failedList().clear();
        rw::openSettings()->clear();
    }
    void writeSetting(const QString& key, const QVariant& v) {
        rw::openSettings()->setValue(key, v);
    }
    QVariant readSetting(const QString& key) { return rw::openSettings()->value(key); }

    std::unique_ptr<rw::ProgrammerDialog> makeDialog(QStringList arguments = {},
                                                     rw::DialogOptions options = {}) {
        options.arguments = std::move(arguments);
        options.services = factory_.services();
        options.siblingServer = QStringLiteral("romwright-test-no-sibling-%1").arg(::getpid());
        return std::make_unique<rw::ProgrammerDialog>(options);
    }

    TempDir data_;
    ScriptedPrompts prompts_;
    LinkFactory factory_;
    std::string hexPath_;
};

// The text a control shows: a combo box's current text, or the text property.
inline QString shown(QWidget* widget) {
    if (auto* combo = qobject_cast<QComboBox*>(widget)) return combo->currentText();
    return widget->property("text").toString();
}

}  // namespace rwtest
