#pragma once
#include <QDialog>
#include <QImage>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <memory>

#include "engine/DeviceModel.h"
#include "engine/FlashJob.h"
#include "engine/ProgramDevice.h"
#include "ui/AnimationThread.h"

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class CliReporter;
class DialogNotifier;
class ProgressBarButton;
class SoundIconLabel;

namespace Ui {
class Dialog102;
}

namespace rw {
class Clock;
}

// How the program runs the main dialog.
struct DialogOptions {
    QStringList arguments;           // the command line after the program's name
    bool windowless = false;         // no visible window: refusals print and quit, never ask
    bool commandLineOutput = false;  // print logged statuses (and progress) as the job runs
    rw::WorkerServices services;     // the programming thread's sound player and links
    rw::Clock* clock = nullptr;      // elapsed time and stall limit; null = the engine clock
    int queuePauseMs = 1000;         // pause before the next queued address
    QString siblingServer;           // empty: the sibling application's own name
};

// The program's main window: picks the model, address, link and HEX file, starts
// and aborts jobs, and shows their progress. It owns the one job record, the
// model table and the log file. Settings are written only by the close command.
class ProgrammerDialog : public QDialog {
    Q_OBJECT
public:
    // Where the busy animation's frames appear in the dialog, in pixels.
    static constexpr int kAnimationX = 10;
    static constexpr int kAnimationY = 465;

    explicit ProgrammerDialog(DialogOptions options = {}, QWidget* parent = nullptr);
    ~ProgrammerDialog() override;

    // Moves every value between the controls and the members; reading validates
    // the address (0..65535) and the host text (at most 24 characters) and
    // reports the first failure in a message box. False on a failed validation.
    bool exchange(bool toMembers);

    void onOk();      // Go: the OK command, Enter, a queued address, the command line
    void onCancel();  // Abort: the Cancel command and Escape; never ends the dialog
    void accept() override { onOk(); }
    void reject() override { onCancel(); }
    // A window system command: 16 (and 17..31) opens the About box.
    void systemCommand(int id);
    // The close command: ends the job, writes the settings, ends the dialog.
    void closeCommand();
    // Ends the running job and frees the record (waits for both worker threads).
    void stopJob();

    // Device list and sound menu (the "Device List..." button and the sound icon).
    void runDeviceList();
    void showSoundMenu();

    // A programming thread is still on the job record (running or winding down).
    bool isJobRunning() const;
    // Queues the completion of a job (the device list posts 0).
    void postFlashDone(int failed);
    // Queues a refresh of the sound icon.
    void postSoundChanged();
    Q_INVOKABLE void soundChanged();

    // The worker's notifications, on the window thread.
    void onFlashStatus(int ended, int logged);
    void onFlashCrc(int crc);
    void onFlashDone(int failed);
    // The quit request: ends the dialog with exitCode, also when it comes before
    // the dialog's event loop runs.
    void quitWith(int exitCode);
    bool quitRequested() const { return quitRequested_; }
    int exitCode() const { return exitCode_; }

    // SIGINT/SIGTERM in command-line mode: Abort, then exit 1 once wound down.
    void commandLineAbort();
    // Command-line mode: aborts as failed when no block succeeded for StallSeconds.
    void checkStall();

    // Read access for tests and the batch features.
    rw::FlashJob* job() const { return job_.get(); }
    const rw::ModelTable& models() const { return models_; }
    Ui::Dialog102& form() { return *ui_; }
    bool goDeferred() const { return deferTimer_.isActive(); }
    // The job has reached its block writes (the stall limit counts from there).
    bool inWritePhase() const { return writePhaseMs_ >= 0; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;  // F1 opens the About box
    void paintEvent(QPaintEvent* event) override;

private:
    void construct();
    void initDialog();
    // Reads the command line into the members; a refusal status when a token does not fit.
    QString applyCommandLine(int designatedRow);
    void checkLinkButton();
    void showLinkControls();
    void selectLink(int baud, int driver);
    void browse();
    void connectControls();
    void refreshStatusColour();
    void setButtonsRunning(bool running);
    // Go's steps after validation; false when the start was refused.
    bool startJob();
    bool refuseStart(const QString& status);
    void deferGo();
    bool previousJobWindingDown() const;
    void logLine(const QByteArray& statusText);
    void showAnimationFrame(const QImage& frame);
    int selectedRow() const;
    void writeSettings();
    void reportValidation(const QString& text);
    rw::Clock& clock() const;
    QString statusTextOfJob() const;

    DialogOptions options_;
    std::unique_ptr<Ui::Dialog102> ui_;

public:
    // Controls, bound by the data exchange.
    QLineEdit* hostPortEdit = nullptr;
    QPlainTextEdit* historyEdit = nullptr;
    SoundIconLabel* soundIcon = nullptr;
    QComboBox* portList = nullptr;
    QPushButton* browseButton = nullptr;
    QPushButton* goButton = nullptr;
    QPushButton* abortButton = nullptr;
    ProgressBarButton* progressBar = nullptr;
    QComboBox* modelList = nullptr;

    // Values, moved by the data exchange.
    int32_t addressValue = 0;
    QString statusLine;
    QString imageFile;
    QString crcLine;
    QString elapsedLine;
    QString historyText;  // newest line first, every line ending in CR LF
    QString hostPort;
    int32_t baudValue = 0;
    int32_t driverValue = 0;
    uint32_t startTick = 0;

private:
    QPixmap soundOnBitmap;
    QPixmap soundOffBitmap;
    std::unique_ptr<rw::FlashJob> job_;
    rw::ModelTable models_;
    int designatedRow_ = 0;
    int stallSeconds_ = 60;

    std::unique_ptr<DialogNotifier> notifier_;
    std::unique_ptr<CliReporter> reporter_;
    AnimationThread animation_;
    QImage animationFrame_;
    QTimer queueTimer_;  // the pause before the next queued Go
    QTimer deferTimer_;  // Go waiting for the last programming thread to end
    QTimer stallTimer_;
    QString lastHostText_;
    bool quitRequested_ = false;
    bool signalled_ = false;
    int exitCode_ = 0;
    int64_t writePhaseMs_ = -1;   // first report of the write phase, -1 before it
    int64_t lastProgressMs_ = 0;  // last report of a block written
    int32_t lastBytesWritten_ = 0;
};
