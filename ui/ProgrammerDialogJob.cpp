// The main dialog's side of a job: Go, Abort, the worker's notifications, the
// status display, the device queue and command-line mode's watchdogs.
#include <unistd.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <cstring>
#include <ctime>

#include "engine/Clock.h"
#include "ui/AddressLists.h"
#include "ui/CliReporter.h"
#include "ui/CommandLine.h"
#include "ui/DialogNotifier.h"
#include "ui/ProgrammerDialog.h"
#include "ui/ProgressBarButton.h"
#include "ui_102.h"

namespace {
constexpr int kDefaultIpPort = 3001;

// Copies text into a fixed field of the job record, terminator included.
// False, leaving the field alone, when it does not fit.
template <size_t N>
bool copyField(char (&field)[N], const QByteArray& text) {
    if (static_cast<size_t>(text.size()) >= N) return false;
    std::memset(field, 0, N);
    std::memcpy(field, text.constData(), static_cast<size_t>(text.size()));
    return true;
}

QByteArray localTimeText() {
    char stamp[128] = {};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%c", &local);
    return QByteArray(stamp);
}
}  // namespace

bool ProgrammerDialog::isJobRunning() const {
    return job_ && (job_->running.load() != 0 || previousJobWindingDown());
}

bool ProgrammerDialog::previousJobWindingDown() const {
    const rw::WorkerThread& worker = job_->workerThread;
    return (worker.attached() && !worker.finished()) || animation_.isRunning();
}

void ProgrammerDialog::onOk() {
    if (!job_) return;
    if (!exchange(true)) {
        if (options_.windowless && job_->autoExit) quitWith(1);
        return;
    }
    // The job record is the last worker's until it has ended: a Go that comes
    // while it winds down (after Abort) waits for it instead of starting a
    // second worker on the same record.
    if (previousJobWindingDown()) {
        deferGo();
        return;
    }
    startJob();
}

void ProgrammerDialog::deferGo() {
    statusLine = QStringLiteral("WAITING FOR THE LAST JOB TO END...");
    exchange(false);
    deferTimer_.start();
}

bool ProgrammerDialog::startJob() {
    job_->imageLength = 0;
    job_->bytesWritten = 0;
    const QByteArray path = imageFile.toLocal8Bit();
    if (path.isEmpty() || ::access(path.constData(), R_OK) != 0) {
        return refuseStart(QStringLiteral("Invalid Binary File"));
    }
    const int row = selectedRow();
    if (row < 0) return refuseStart(QStringLiteral("NO FLASH DEVICE SELECTED"));
    if (static_cast<size_t>(path.size()) >= sizeof job_->imagePath) {
        return refuseStart(QStringLiteral("FILE PATH TOO LONG"));
    }
    QByteArray host;
    int ipPort = kDefaultIpPort;
    if (driverValue != rw::LINK_SERIAL) {
        const qsizetype colon = hostPort.indexOf(QLatin1Char(':'));
        host = (colon >= 0 ? hostPort.left(colon) : hostPort).toLocal8Bit();
        if (colon >= 0) ipPort = scanDecimal(hostPort.mid(colon + 1)).value_or(0);
        if (static_cast<size_t>(host.size()) >= sizeof job_->hostName) {
            return refuseStart(QStringLiteral("HOST NAME TOO LONG"));
        }
    }

    startTick = static_cast<uint32_t>(clock().nowMs());
    statusLine.clear();
    elapsedLine.clear();
    setButtonsRunning(true);

    job_->window = notifier_.get();
    job_->running = 1;
    job_->failed = 0;
    job_->linkKind = driverValue;
    job_->baudRate = baudValue;
    job_->deviceAddress = addressValue;
    job_->model = models_[row].get();
    copyField(job_->imagePath, path);
    if (driverValue != rw::LINK_SERIAL) {
        copyField(job_->hostName, host);
        job_->port = ipPort;
    } else {
        job_->port = portList->currentIndex() + 1;
    }

    writePhaseMs_ = -1;
    lastBytesWritten_ = 0;
    lastProgressMs_ = clock().nowMs();
    // Frames are paced in real time whatever clock the engine runs on.
    animation_.start(
        *job_,
        [this](const QImage& frame) {
            QMetaObject::invokeMethod(
                this, [this, frame] { showAnimationFrame(frame); }, Qt::QueuedConnection);
        },
        palette().color(QPalette::Button), &rw::systemClock());
    rw::startProgramDeviceThread(*job_, options_.services);
    if (options_.commandLineOutput) stallTimer_.start();
    progressBar->update();
    exchange(false);
    return true;
}

bool ProgrammerDialog::refuseStart(const QString& status) {
    statusLine = status;
    job_->failed = 1;
    progressBar->update();
    exchange(false);
    if (options_.windowless && job_->autoExit) {
        QByteArray reason = status.toLocal8Bit();
        if (status == QStringLiteral("Invalid Binary File"))
            reason += ": " + imageFile.toLocal8Bit();
        CliReporter fallback(stdout, stderr, false);
        (reporter_ ? *reporter_ : fallback).refusal(reason);
        quitWith(1);
    }
    return false;
}

void ProgrammerDialog::onCancel() {
    if (!job_) return;
    deferTimer_.stop();
    if (job_->running) {
        statusLine = QStringLiteral("Flash Download Aborted...");
        job_->running = 0;
        job_->failed = 1;
    } else {
        statusLine.clear();
        // While the aborted worker still winds down, its loop end compares
        // bytesWritten with imageLength: zeroing the length there could make an
        // unfinished image look complete. The record stays the worker's.
        if (!previousJobWindingDown()) {
            job_->failed = 0;
            job_->imageLength = 0;
        }
    }
    setButtonsRunning(false);
    progressBar->update();
    exchange(false);
}

void ProgrammerDialog::setButtonsRunning(bool running) {
    goButton->setEnabled(!running);
    browseButton->setEnabled(!running);
    abortButton->setEnabled(running);
}

QString ProgrammerDialog::statusTextOfJob() const {
    return QString::fromLocal8Bit(
        job_->statusText,
        static_cast<qsizetype>(strnlen(job_->statusText, sizeof job_->statusText)));
}

void ProgrammerDialog::logLine(const QByteArray& statusText) {
    const QByteArray line = localTimeText() + "  " + statusText;
    if (job_->logFile != nullptr) {
        std::fputs((line + "\r\n").constData(), job_->logFile);
        std::fflush(job_->logFile);
    }
    historyText = QString::fromLocal8Bit(line) + QStringLiteral("\r\n") + historyText;
    if (reporter_) reporter_->statusLogged(line);
}

void ProgrammerDialog::onFlashStatus(int ended, int logged) {
    if (!job_) return;
    if (ended) {
        setButtonsRunning(false);
        stallTimer_.stop();
    }
    if (logged) {
        logLine(QByteArray(job_->statusText, static_cast<qsizetype>(strnlen(
                                                 job_->statusText, sizeof job_->statusText))));
    }
    statusLine = statusTextOfJob();
    const int64_t nowMs = clock().nowMs();
    const uint32_t elapsedMs = static_cast<uint32_t>(nowMs) - startTick;
    elapsedLine = QString::asprintf("%0.1f seconds", elapsedMs * 0.001);
    if (!logged && writePhaseMs_ < 0) writePhaseMs_ = nowMs;
    if (job_->bytesWritten != lastBytesWritten_) {
        lastBytesWritten_ = job_->bytesWritten;
        lastProgressMs_ = nowMs;
    }
    progressBar->repaint();
    exchange(false);
    if (reporter_) {
        reporter_->progress(job_->bytesWritten, job_->imageLength, elapsedMs * 0.001);
        if (ended) reporter_->finish();
    }
}

void ProgrammerDialog::onFlashCrc(int crc) {
    if (!job_) return;
    crcLine = QString::asprintf("CRC8 = %02x hex", crc);
    exchange(false);
}

void ProgrammerDialog::onFlashDone(int failed) {
    if (!job_) return;
    if (failed) {
        const auto address = static_cast<uint16_t>(job_->deviceAddress);
        AddressList& failures = failedList();
        if (std::find(failures.begin(), failures.end(), address) == failures.end()) {
            failures.push_back(address);
        }
    }
    AddressList& queue = pendingQueue();
    if (!queue.empty()) {
        const uint16_t next = queue.front();
        queue.erase(queue.begin());
        job_->deviceAddress = next;
        addressValue = next;
        exchange(false);
        // A timer, not a sleep: the window stays responsive during the pause.
        queueTimer_.start(options_.queuePauseMs);
    } else if (failedList().size() > 1) {
        runDeviceList();
    }
}

void ProgrammerDialog::refreshStatusColour() {
    QLabel* label = ui_->id1007;
    const bool failed = job_ && job_->failed.load() != 0;
    if (label->autoFillBackground() == failed) return;
    if (failed) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::Window, QColor(255, 0, 0));
        palette.setColor(QPalette::WindowText, QColor(255, 255, 255));
        label->setPalette(palette);
    } else {
        label->setPalette(QPalette());
    }
    label->setAutoFillBackground(failed);
}

void ProgrammerDialog::quitWith(int exitCode) {
    // After a signal the program ends as failed, whatever the wound-down job says.
    exitCode_ = signalled_ ? 1 : exitCode;
    quitRequested_ = true;
    // Queued, so a quit requested before the dialog's event loop runs ends it
    // as soon as it starts.
    QMetaObject::invokeMethod(
        this, [this] { done(exitCode_); }, Qt::QueuedConnection);
}

void ProgrammerDialog::commandLineAbort() {
    signalled_ = true;
    if (job_ && job_->running && job_->autoExit) {
        // The worker winds the device down and then asks to quit.
        onCancel();
        return;
    }
    if (job_) onCancel();
    queueTimer_.stop();
    quitWith(1);
}

void ProgrammerDialog::checkStall() {
    if (!job_ || !job_->running || stallSeconds_ <= 0 || writePhaseMs_ < 0) return;
    const int64_t nowMs = clock().nowMs();
    const int64_t eraseEndMs = writePhaseMs_ + int64_t{job_->model->eraseWaitSeconds} * 1000;
    const int64_t sinceMs = std::max(lastProgressMs_, eraseEndMs);
    if (nowMs - sinceMs < int64_t{stallSeconds_} * 1000) return;
    logLine(QStringLiteral("NO BLOCK WRITTEN FOR %1 SECONDS").arg(stallSeconds_).toLocal8Bit());
    onCancel();
}
