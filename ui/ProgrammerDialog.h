#pragma once
#include <QDialog>
#include <QImage>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <array>
#include <cstdint>
#include <memory>

#include "control/JobController.h"
#include "engine/DeviceModel.h"
#include "engine/FlashJob.h"
#include "engine/ProgramDevice.h"
#include "ui/AnimationThread.h"
#include "ui/MainSettings.h"
#include "ui/PortList.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace Ui {
class Dialog102;
}

namespace rw {

class Clock;
class CommandLineSession;
class DialogNotifier;
class ProgressBarButton;
class SoundIconLabel;

// How the program runs the main dialog.
struct DialogOptions {
    QStringList arguments;           // the command line after the program's name
    bool windowless = false;         // no visible window: refusals print and quit, never ask
    bool commandLineOutput = false;  // print logged statuses (and progress) as the job runs
    bool handleSignals = false;      // with commandLineOutput: SIGINT/SIGTERM abort the job
    // The programming thread's sound player, links and clock; the clock also
    // times the elapsed line and the stall limit.
    WorkerServices services;
    int queuePauseMs = 1000;  // pause before the next queued address
    QString siblingServer;    // empty: the sibling application's own name
    // Where serial devices are looked for to fill the COM list ("/" in the
    // program); empty: nowhere, every COM number without an entry keeps its default.
    QString serialRoot;
};

// The program's main window: picks the model, address, link and HEX file, starts
// and aborts jobs, and shows their progress. It owns the one job record, the
// model table and the log file; the job's life is the JobController's, which this
// window shows (it is the controller's JobView). Settings are written only by
// the close command.
class ProgrammerDialog : public QDialog, private JobView {
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

    // Go: the OK command, Enter, the command line.
    void onOk() { controller_.go(); }
    // Abort: the Cancel command and Escape; never ends the dialog.
    void onCancel() { controller_.abort(); }
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
    // Queues a refresh of the sound icon.
    void postSoundChanged();
    Q_INVOKABLE void soundChanged();

    // The worker's notifications, on the window thread.
    void onFlashStatus(int ended, int logged) { controller_.flashStatus(ended, logged); }
    // A progress line the worker did not wait for, as a copy.
    void onFlashProgress(const std::string& text) { controller_.flashStatus(text, 0, 0); }
    void onFlashCrc(int crc) { controller_.flashCrc(crc); }
    void onFlashDone(int failed) { controller_.flashDone(failed); }
    // The quit request: ends the dialog with exitCode, also when it comes before
    // the dialog's event loop runs.
    void quitWith(int exitCode);
    bool quitRequested() const { return quitRequested_; }
    int exitCode() const { return exitCode_; }

    FlashJob* job() const { return job_.get(); }
    JobController& controller() { return controller_; }
    const ModelTable& models() const { return models_; }

    // Controls, bound by nameControls(), the one place that reaches into the template
    // (whose object names are the control ids).
    QLineEdit* hostPortEdit = nullptr;
    QPlainTextEdit* historyEdit = nullptr;
    SoundIconLabel* soundIcon = nullptr;
    QComboBox* portList = nullptr;
    QPushButton* browseButton = nullptr;
    QPushButton* goButton = nullptr;
    QPushButton* abortButton = nullptr;
    ProgressBarButton* progressBar = nullptr;
    QComboBox* modelList = nullptr;
    QLineEdit* addressEdit = nullptr;
    QLineEdit* fileEdit = nullptr;
    QLabel* statusLabel = nullptr;
    QLabel* crcLabel = nullptr;
    QLabel* elapsedLabel = nullptr;
    QPushButton* deviceListButton = nullptr;
    // The link buttons, in template order: serial 1200, 9600, 19200, 38400, UDP, TCP.
    std::array<QRadioButton*, 6> linkButtons{};

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

  protected:
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;  // F1 opens the About box
    void paintEvent(QPaintEvent* event) override;

  private:
    // The job controller's view.
    std::optional<GoForm> readForm() override;
    void setStatus(const std::string& text) override;
    void setElapsed(const std::string& text) override;
    void setCrc(const std::string& text) override;
    void setAddress(int32_t address) override;
    void addHistory(const std::string& line) override;
    void setButtons(bool live) override;
    void refresh() override;
    void refreshSoon() override;
    void startThreads(FlashJob& job) override;
    void openRetryList() override;
    void startQueuePause(int ms) override { queueTimer_.start(ms); }
    void stopQueuePause() override { queueTimer_.stop(); }
    void quit(int exitCode) override { quitWith(exitCode); }

    void nameControls();
    void construct();
    void connectControls();
    void initDialog();
    void checkLinkButton();
    void showLinkControls();
    void selectLink(int baud, int driver);
    void browse();
    void refreshStatusColour();
    void reportValidation(const QString& text);
    // One of the two threads of the last Go has ended.
    void threadEnded();
    void showAnimationFrame(const QImage& frame);
    int selectedRow() const;
    Clock& clock() const;

    DialogOptions options_;
    std::unique_ptr<Ui::Dialog102> ui_;
    QPixmap soundOnBitmap;
    QPixmap soundOffBitmap;
    std::unique_ptr<FlashJob> job_;
    ModelTable models_;
    MainSettings settings_;  // as read at construction; the close command writes it
    PortList ports_;         // the COM list's devices

    JobController controller_;
    std::unique_ptr<DialogNotifier> notifier_;
    std::unique_ptr<CommandLineSession> session_;
    AnimationThread animation_;
    QImage animationFrame_;
    QTimer queueTimer_;  // the pause before the next queued Go
    QTimer frameTimer_;  // shows progress at most once a frame
    int threadsOnRecord_ = 0;
    QString lastHostText_;
    QString historyShown_;  // the historyText the history edit shows
    bool quitRequested_ = false;
    int exitCode_ = 0;
};

}  // namespace rw
