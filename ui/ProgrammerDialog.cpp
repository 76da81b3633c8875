#include "ui/ProgrammerDialog.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>

#include "base/Clock.h"
#include "engine/Sounds.h"
#include "ui/AboutDialog.h"
#include "ui/Artwork.h"
#include "ui/CommandLine.h"
#include "ui/CommandLineSession.h"
#include "ui/ControlValues.h"
#include "ui/DialogFont.h"
#include "ui/DialogNotifier.h"
#include "ui/MainSettings.h"
#include "ui/ModelList.h"
#include "ui/ProgressBarButton.h"
#include "ui/SiblingNotice.h"
#include "ui/SoundIconLabel.h"
#include "ui/UserPrompts.h"
#include "ui_102.h"

namespace rw {

namespace {
constexpr int kAboutCommand = 16;
constexpr int kHostRoom = 24;  // characters of the host field
// The link buttons' speeds and link kinds, in template order.
constexpr struct {
    int baud;
    int driver;
} kLinks[] = {{1200, LINK_SERIAL},  {9600, LINK_SERIAL}, {19200, LINK_SERIAL},
              {38400, LINK_SERIAL}, {0, LINK_UDP},       {0, LINK_TCP}};
}  // namespace

ProgrammerDialog::ProgrammerDialog(DialogOptions options, QWidget* parent)
    : QDialog(parent),
      options_(std::move(options)),
      ui_(std::make_unique<Ui::Dialog102>()),
      controller_(*this, options_.services.clockToUse(), models_),
      notifier_(std::make_unique<DialogNotifier>(*this)) {
    ui_->setupUi(this);
    applyDialogFont(*this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    nameControls();
    if (options_.siblingServer.isEmpty()) options_.siblingServer = siblingServerName();
    controller_.setQueuePauseMs(options_.queuePauseMs);
    construct();
    if (options_.commandLineOutput) {
        session_ = std::make_unique<CommandLineSession>(controller_, clock(),
                                                        settings_.stallSeconds, options_.windowless,
                                                        [this](int code) { quitWith(code); });
        controller_.setObserver(session_.get());
        if (options_.handleSignals) session_->listenForSignals();
    }
    connectControls();
    initDialog();
}

ProgrammerDialog::~ProgrammerDialog() {
    stopJob();
    controller_.setObserver(nullptr);
    session_.reset();
    notifySibling(options_.siblingServer);
}

void ProgrammerDialog::nameControls() {
    hostPortEdit = ui_->id1026;
    historyEdit = ui_->id1021;
    soundIcon = ui_->id1020;
    portList = ui_->id1009;
    browseButton = ui_->id57601;
    goButton = ui_->id1;
    abortButton = ui_->id2;
    progressBar = ui_->id1008;
    modelList = ui_->id1017;
    addressEdit = ui_->id1001;
    fileEdit = ui_->id1000;
    statusLabel = ui_->id1007;
    crcLabel = ui_->id1012;
    elapsedLabel = ui_->id1016;
    deviceListButton = ui_->id1022;
    linkButtons = {ui_->id1023, ui_->id1013, ui_->id1014, ui_->id1015, ui_->id1018, ui_->id1019};
}

void ProgrammerDialog::construct() {
    models_ = buildModelTable();
    settings_ = MainSettings::read(static_cast<int>(models_.size()));
    driverValue = settings_.driver;
    baudValue = settings_.baudRate;
    addressValue = settings_.address;
    statusLine = QStringLiteral("Load Binary Flash Archive...");
    imageFile = settings_.file;
    hostPort = settings_.ip;
    crcLine = QStringLiteral("CRC-8");
    options_.services.serialPortPath = ports_.fill(*portList, settings_.ports, options_.serialRoot);

    QIcon appIcon(QStringLiteral(":/icons/130.png"));
    appIcon.addFile(QStringLiteral(":/icons/130-32.png"));
    setWindowIcon(appIcon);

    job_ = std::make_unique<FlashJob>();
    job_->logFile = std::fopen((dataFolder() + "Romwright.log").c_str(), "w");
    controller_.setJob(job_.get());
    controller_.setRecord(settings_.recordPath(dataFolder()), "romwright " ROMWRIGHT_VERSION);
}

void ProgrammerDialog::connectControls() {
    for (size_t i = 0; i < linkButtons.size(); ++i) {
        connect(linkButtons[i], &QRadioButton::clicked, this,
                [this, i] { selectLink(kLinks[i].baud, kLinks[i].driver); });
    }
    connect(browseButton, &QPushButton::clicked, this, &ProgrammerDialog::browse);
    connect(goButton, &QPushButton::clicked, this, &ProgrammerDialog::onOk);
    connect(abortButton, &QPushButton::clicked, this, &ProgrammerDialog::onCancel);
    connect(deviceListButton, &QPushButton::clicked, this, &ProgrammerDialog::runDeviceList);
    connect(soundIcon, &SoundIconLabel::clicked, this, &ProgrammerDialog::showSoundMenu);
    // Typing stops at the host field's room; a stored longer text stays whole
    // (it is refused when read, never cut).
    connect(hostPortEdit, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (text.size() > kHostRoom) {
            hostPortEdit->setText(lastHostText_);
        } else {
            lastHostText_ = text;
        }
    });
    frameTimer_.setSingleShot(true);
    connect(&frameTimer_, &QTimer::timeout, this, &ProgrammerDialog::refresh);
    queueTimer_.setSingleShot(true);
    connect(&queueTimer_, &QTimer::timeout, this, [this] { controller_.queuePauseElapsed(); });
    progressBar->setStateSource([this]() -> std::optional<ProgressState> {
        if (!job_) return std::nullopt;
        return ProgressState{job_->imageLength, job_->bytesWritten, job_->failed.load() != 0};
    });
}

void ProgrammerDialog::initDialog() {
    exchange(false);
    const auto designated = static_cast<size_t>(settings_.device);
    soundOnBitmap = QPixmap(QStringLiteral(":/bitmaps/146.png"));
    soundOffBitmap = QPixmap(QStringLiteral(":/bitmaps/147.png"));
    soundIcon->setPixmap(soundOnBitmap);
    modellist::fill(*modelList, models_);

    QString refusal;
    if (!options_.arguments.isEmpty()) {
        const CommandLine line = CommandLine::parse(options_.arguments);
        if (line.model) models_[designated]->name = line.model->toLocal8Bit().toStdString();
        if (line.address) addressValue = *line.address;
        if (line.baudRate) baudValue = *line.baudRate;
        if (line.file) imageFile = *line.file;
        refusal = line.refusal;
        job_->autoExit = 1;
        exchange(false);
    }
    checkLinkButton();
    portList->setCurrentIndex(settings_.port);  // an index outside the list selects nothing
    showLinkControls();
    // With a command line the model token (now the designated row's name) chooses.
    modellist::selectByPrefix(*modelList,
                              QString::fromLocal8Bit(models_[designated]->name.c_str()));

    abortButton->setEnabled(false);
    if (job_->autoExit) {
        if (refusal.isEmpty()) {
            onOk();
        } else {
            controller_.refuseStart(refusal.toStdString());
        }
    }
    postSoundChanged();
}

void ProgrammerDialog::checkLinkButton() {
    int checked = -1;
    if (driverValue == LINK_TCP) {
        checked = 5;
    } else if (driverValue == LINK_UDP) {
        checked = 4;
    } else {
        for (int i = 0; i < 4; ++i) {
            if (kLinks[i].baud == baudValue) checked = i;
        }
    }
    if (checked >= 0) linkButtons[static_cast<size_t>(checked)]->setChecked(true);
}

void ProgrammerDialog::showLinkControls() {
    const bool serial = driverValue == LINK_SERIAL;
    portList->setVisible(serial);
    hostPortEdit->setVisible(!serial);
}

void ProgrammerDialog::selectLink(int baud, int driver) {
    if (baud != 0) baudValue = baud;
    driverValue = driver;
    showLinkControls();
}

bool ProgrammerDialog::exchange(bool toMembers) {
    if (!toMembers) {
        setTextIfChanged(*addressEdit, QString::number(addressValue));
        setTextIfChanged(*statusLabel, statusLine);
        setTextIfChanged(*fileEdit, imageFile);
        setTextIfChanged(*crcLabel, crcLine);
        setTextIfChanged(*elapsedLabel, elapsedLine);
        // The history only grows by new strings: comparing the data pointers
        // tells a change without reading the whole text back.
        if (historyText.constData() != historyShown_.constData() ||
            historyText.size() != historyShown_.size()) {
            QString shown = historyText;
            shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
            historyEdit->setPlainText(shown);
            historyShown_ = historyText;
        }
        setTextIfChanged(*hostPortEdit, hostPort);
        lastHostText_ = hostPort;
        refreshStatusColour();
        return true;
    }
    const std::optional<int> address = parseEditInteger(addressEdit->text());
    if (!address) {
        reportValidation(QStringLiteral("Please enter an integer."));
        return false;
    }
    if (*address < 0 || *address > 65535) {
        reportValidation(QStringLiteral("Please enter an integer between 0 and 65535."));
        return false;
    }
    addressValue = *address;
    statusLine = statusLabel->text();
    imageFile = fileEdit->text();
    crcLine = crcLabel->text();
    elapsedLine = elapsedLabel->text();
    historyText = historyEdit->toPlainText();
    historyText.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    historyShown_ = historyText;
    hostPort = hostPortEdit->text();
    if (hostPort.size() > kHostRoom) {
        reportValidation(QStringLiteral("Please enter no more than %1 characters.").arg(kHostRoom));
        return false;
    }
    return true;
}

void ProgrammerDialog::reportValidation(const QString& text) {
    if (session_ && options_.windowless) {
        session_->refusal(text.toStdString());
        return;
    }
    userPrompts().message(this, text);
}

void ProgrammerDialog::browse() {
    const QString chosen =
        userPrompts().openFileName(this, QStringLiteral("Load 8051 Image"), QStringLiteral("."),
                                   QStringLiteral("Intel 8051 HEX Files (*.hex)"));
    if (!job_) return;
    if (chosen.isEmpty()) {
        job_->failed = 1;
        refreshStatusColour();
        return;
    }
    exchange(true);
    job_->failed = 0;
    crcLine.clear();
    statusLine = QStringLiteral("Ready...");
    imageFile = QFileInfo(chosen).absoluteFilePath();
    exchange(false);
}

void ProgrammerDialog::refreshStatusColour() {
    showFailure(*statusLabel, job_ && job_->failed.load() != 0, controller_.statusDetail(),
                controller_.recordProblem());
}

void ProgrammerDialog::systemCommand(int id) {
    if ((id & ~0xF) != kAboutCommand) return;
    AboutDialog about(this);
    userPrompts().runModal(about);
}

void ProgrammerDialog::contextMenuEvent(QContextMenuEvent* event) {
    const QString text = resourceString(101);
    if (text.isEmpty()) return;
    QMenu menu(this);
    QAction* about = menu.addAction(text);
    if (userPrompts().popupMenu(menu, event->globalPos()) == about) systemCommand(kAboutCommand);
}

void ProgrammerDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
        systemCommand(kAboutCommand);
        return;
    }
    QDialog::keyPressEvent(event);
}

void ProgrammerDialog::closeEvent(QCloseEvent* event) {
    closeCommand();
    event->accept();
}

void ProgrammerDialog::closeCommand() {
    stopJob();
    // A failed validation has shown its message; the settings are written from
    // the members as the exchange left them.
    exchange(true);
    const int row = selectedRow();
    settings_.ip = hostPort;
    settings_.file = imageFile;
    if (row >= 0) settings_.device = row;
    settings_.port = portList->currentIndex();
    settings_.driver = driverValue;
    settings_.address = addressValue;
    settings_.baudRate = baudValue;
    settings_.write(QString::fromStdString(soundScheme()), ports_.keptPaths());
    done(QDialog::Rejected);
}

int ProgrammerDialog::selectedRow() const {
    return modellist::selectedRow(*modelList, models_);
}

void ProgrammerDialog::stopJob() {
    if (!job_) return;
    controller_.close();
    waitForThreadEnd(&job_->workerThread, notifier_->mailbox());
    animation_.join();
    if (job_->logFile != nullptr) std::fclose(job_->logFile);
    job_->logFile = nullptr;
    controller_.setJob(nullptr);
    job_.reset();
    refreshStatusColour();
}

void ProgrammerDialog::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    if (animationFrame_.isNull()) return;
    QPainter painter(this);
    painter.drawImage(kAnimationX, kAnimationY, animationFrame_);
}

void ProgrammerDialog::showAnimationFrame(const QImage& frame) {
    animationFrame_ = frame;
    update(QRect(QPoint(kAnimationX, kAnimationY), frame.size()));
}

Clock& ProgrammerDialog::clock() const {
    return options_.services.clockToUse();
}

}  // namespace rw
