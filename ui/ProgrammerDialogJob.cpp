// The main dialog as the job controller's view: Go and Abort, the worker's
// notifications, the device list and the sound menu forward to the controller,
// which changes the values below and has them shown.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "base/Clock.h"
#include "engine/Sounds.h"
#include "ui/CommandLineSession.h"
#include "ui/DeviceListDialog.h"
#include "ui/DialogNotifier.h"
#include "ui/ProgrammerDialog.h"
#include "ui/ProgressBarButton.h"
#include "ui/SoundIconLabel.h"
#include "ui/SoundMenu.h"

namespace rw {

void ProgrammerDialog::runDeviceList() {
    if (!controller_.deviceListTaken()) return;
    if (DeviceListDialog::runAndQueue(this)) controller_.listConfirmed();
}

void ProgrammerDialog::showSoundMenu() {
    if (SoundMenu::choose(this)) postSoundChanged();
}

void ProgrammerDialog::soundChanged() {
    soundIcon->setPixmap(soundScheme().empty() ? soundOffBitmap : soundOnBitmap);
    soundIcon->update();
}

void ProgrammerDialog::postSoundChanged() {
    QMetaObject::invokeMethod(this, "soundChanged", Qt::QueuedConnection);
}

void ProgrammerDialog::quitWith(int exitCode) {
    exitCode_ = session_ ? session_->exitCode(exitCode) : exitCode;
    quitRequested_ = true;
    // Queued, so a quit requested before the dialog's event loop runs ends it
    // as soon as it starts.
    QMetaObject::invokeMethod(
        this, [this] { done(exitCode_); }, Qt::QueuedConnection);
}

std::optional<GoForm> ProgrammerDialog::readForm() {
    if (!exchange(true)) {
        // Without a window nobody can correct the form: the run ends.
        if (options_.windowless && job_ && job_->autoExit) quitWith(1);
        return std::nullopt;
    }
    GoForm form;
    form.address = addressValue;
    form.driver = driverValue;
    form.baudRate = baudValue;
    form.imageFile = imageFile.toLocal8Bit().toStdString();
    form.hostPort = hostPort.toLocal8Bit().toStdString();
    form.modelRow = selectedRow();
    form.portIndex = portList->currentIndex();
    return form;
}

void ProgrammerDialog::setStatus(const std::string& text) {
    statusLine = QString::fromLocal8Bit(text.c_str());
}

void ProgrammerDialog::setElapsed(const std::string& text) {
    elapsedLine = QString::fromStdString(text);
}

void ProgrammerDialog::setCrc(const std::string& text) {
    crcLine = QString::fromStdString(text);
}

void ProgrammerDialog::setAddress(int32_t address) {
    addressValue = address;
    if (job_) job_->deviceAddress = address;
}

void ProgrammerDialog::addHistory(const std::string& line) {
    historyText = QString::fromLocal8Bit(line.c_str()) + QStringLiteral("\r\n") + historyText;
}

void ProgrammerDialog::setButtons(bool live) {
    goButton->setEnabled(!live);
    browseButton->setEnabled(!live);
    abortButton->setEnabled(live);
}

void ProgrammerDialog::refresh() {
    frameTimer_.stop();
    exchange(false);
    progressBar->update();
}

void ProgrammerDialog::refreshSoon() {
    constexpr int kFrameMs = 16;
    if (!frameTimer_.isActive()) frameTimer_.start(kFrameMs);
}

void ProgrammerDialog::startThreads(FlashJob& job) {
    job.window = notifier_.get();
    notifier_->startServing();
    threadsOnRecord_ = 2;
    const auto ended = [this] {
        QMetaObject::invokeMethod(
            this, [this] { threadEnded(); }, Qt::QueuedConnection);
    };
    // Frames are paced in real time whatever clock the engine runs on.
    animation_.start(
        job,
        [this](const QImage& frame) {
            QMetaObject::invokeMethod(
                this, [this, frame] { showAnimationFrame(frame); }, Qt::QueuedConnection);
        },
        palette().color(QPalette::Button), &systemClock(), ended);
    job.workerThread.start([&job, services = options_.services, ended] {
        const unsigned failed = ProgramDeviceThread(job, services);
        ended();  // the link is closed and the image freed
        return failed;
    });
}

void ProgrammerDialog::threadEnded() {
    if (threadsOnRecord_ > 0 && --threadsOnRecord_ == 0) {
        notifier_->stopServing();  // whatever the worker posted last comes first
        controller_.workerEnded();
    }
}

void ProgrammerDialog::openRetryList() {
    QMetaObject::invokeMethod(
        this, [this] { runDeviceList(); }, Qt::QueuedConnection);
}

}  // namespace rw
