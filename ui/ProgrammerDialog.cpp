#include "ui/ProgrammerDialog.h"

#include <unistd.h>

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QSettings>

#include "engine/Clock.h"
#include "engine/Sounds.h"
#include "ui/AboutDialog.h"
#include "ui/AppSettings.h"
#include "ui/CliReporter.h"
#include "ui/CommandLine.h"
#include "ui/DialogFont.h"
#include "ui/DialogNotifier.h"
#include "ui/ProgressBarButton.h"
#include "ui/QtSoundPlayer.h"
#include "ui/SiblingNotice.h"
#include "ui/SoundIconLabel.h"
#include "ui/UserPrompts.h"
#include "ui_102.h"

namespace {
constexpr int kAboutCommand = 16;
constexpr int kHostRoom = 24;  // characters of the host field
constexpr int kDeferPollMs = 20;
constexpr int kStallPollMs = 250;

// A resource string by its number, empty when the program has none.
QString resourceString(int id) {
    QFile file(QStringLiteral(":/strings/%1").arg(id));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll());
}

// The decimal integer of an edit control: blanks around an optionally signed
// run of digits, nothing else, within the int range.
std::optional<int> parseEditInteger(const QString& text) {
    const QString trimmed = text.trimmed();
    bool ok = false;
    const int value = trimmed.toInt(&ok, 10);
    if (!ok) return std::nullopt;
    return value;
}

void setTextIfChanged(QLineEdit* edit, const QString& text) {
    if (edit->text() != text) edit->setText(text);
}

void setTextIfChanged(QLabel* label, const QString& text) {
    if (label->text() != text) label->setText(text);
}
}  // namespace

ProgrammerDialog::ProgrammerDialog(DialogOptions options, QWidget* parent)
    : QDialog(parent),
      options_(std::move(options)),
      ui_(std::make_unique<Ui::Dialog102>()),
      notifier_(std::make_unique<DialogNotifier>(*this)) {
    ui_->setupUi(this);
    setFont(dialogFont());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    hostPortEdit = ui_->id1026;
    historyEdit = ui_->id1021;
    soundIcon = ui_->id1020;
    portList = ui_->id1009;
    browseButton = ui_->id57601;
    goButton = ui_->id1;
    abortButton = ui_->id2;
    progressBar = ui_->id1008;
    modelList = ui_->id1017;
    if (options_.siblingServer.isEmpty()) options_.siblingServer = siblingServerName();
    if (options_.commandLineOutput) {
        reporter_ = std::make_unique<CliReporter>(stdout, stderr, ::isatty(2) != 0);
    }
    construct();
    connectControls();
    initDialog();
}

ProgrammerDialog::~ProgrammerDialog() {
    stopJob();
    if (reporter_) reporter_->finish();
    notifySibling(options_.siblingServer);
}

void ProgrammerDialog::construct() {
    auto settings = openSettings();
    settings->beginGroup(QStringLiteral("Info"));
    driverValue = settings->value(QStringLiteral("Driver"), 1).toInt();
    // The dialog only ever stores 1..3; anything else counts as serial.
    if (driverValue < rw::LINK_SERIAL || driverValue > rw::LINK_UDP) driverValue = rw::LINK_SERIAL;
    baudValue = settings->value(QStringLiteral("BaudRate"), 9600).toInt();
    addressValue = settings->value(QStringLiteral("Address"), 101).toInt();
    statusLine = QStringLiteral("Load Binary Flash Archive...");
    imageFile = settings->value(QStringLiteral("File"), QStringLiteral("4255.hex")).toString();
    hostPort =
        settings->value(QStringLiteral("IP"), QStringLiteral("192.168.0.100:3001")).toString();
    crcLine = QStringLiteral("CRC-8");
    elapsedLine.clear();
    historyText.clear();
    stallSeconds_ = settings->value(QStringLiteral("StallSeconds"), 60).toInt();

    QIcon appIcon(QStringLiteral(":/icons/130.png"));
    appIcon.addFile(QStringLiteral(":/icons/130-32.png"));
    setWindowIcon(appIcon);

    job_ = std::make_unique<rw::FlashJob>();
    const std::string logPath = rw::dataFolder() + "Romwright.log";
    job_->logFile = std::fopen(logPath.c_str(), "w");
    models_ = rw::buildModelTable();
}

void ProgrammerDialog::connectControls() {
    const struct {
        QRadioButton* button;
        int baud;
        int driver;
    } links[] = {
        {ui_->id1023, 1200, rw::LINK_SERIAL},  {ui_->id1013, 9600, rw::LINK_SERIAL},
        {ui_->id1014, 19200, rw::LINK_SERIAL}, {ui_->id1015, 38400, rw::LINK_SERIAL},
        {ui_->id1018, 0, rw::LINK_UDP},        {ui_->id1019, 0, rw::LINK_TCP},
    };
    for (const auto& link : links) {
        const int baud = link.baud;
        const int driver = link.driver;
        connect(link.button, &QRadioButton::clicked, this,
                [this, baud, driver] { selectLink(baud, driver); });
    }
    connect(browseButton, &QPushButton::clicked, this, &ProgrammerDialog::browse);
    connect(goButton, &QPushButton::clicked, this, &ProgrammerDialog::onOk);
    connect(abortButton, &QPushButton::clicked, this, &ProgrammerDialog::onCancel);
    connect(ui_->id1022, &QPushButton::clicked, this, &ProgrammerDialog::runDeviceList);
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

    queueTimer_.setSingleShot(true);
    connect(&queueTimer_, &QTimer::timeout, this, &ProgrammerDialog::onOk);
    deferTimer_.setInterval(kDeferPollMs);
    connect(&deferTimer_, &QTimer::timeout, this, [this] {
        if (previousJobWindingDown()) return;
        deferTimer_.stop();
        onOk();
    });
    stallTimer_.setInterval(kStallPollMs);
    connect(&stallTimer_, &QTimer::timeout, this, &ProgrammerDialog::checkStall);
    progressBar->setStateSource([this]() -> std::optional<ProgressState> {
        if (!job_) return std::nullopt;
        return ProgressState{job_->imageLength, job_->bytesWritten, job_->failed.load() != 0};
    });
}

void ProgrammerDialog::initDialog() {
    exchange(false);
    auto settings = openSettings();
    designatedRow_ = settings->value(QStringLiteral("Info/Device"), 0).toInt();
    if (designatedRow_ < 0 || designatedRow_ >= static_cast<int>(models_.size()))
        designatedRow_ = 0;

    soundOnBitmap = QPixmap(QStringLiteral(":/bitmaps/146.png"));
    soundOffBitmap = QPixmap(QStringLiteral(":/bitmaps/147.png"));
    soundIcon->setPixmap(soundOnBitmap);

    // The list keeps its entries sorted; item data, not position, names the row.
    for (int row = 0; row < static_cast<int>(models_.size()); ++row) {
        const QString name = QString::fromStdString(models_[row]->name);
        int at = 0;
        while (at < modelList->count() &&
               QString::compare(modelList->itemText(at), name, Qt::CaseInsensitive) <= 0) {
            ++at;
        }
        modelList->insertItem(at, name, row);
    }

    QString refusal;
    if (!options_.arguments.isEmpty()) refusal = applyCommandLine(designatedRow_);
    checkLinkButton();
    const int port = settings->value(QStringLiteral("Info/Port"), 0).toInt();
    portList->setCurrentIndex(port >= 0 && port < portList->count() ? port : -1);
    showLinkControls();

    const QString prefix = QString::fromLocal8Bit(models_[designatedRow_]->name.c_str());
    int selected = -1;
    for (int i = 0; i < modelList->count() && selected < 0; ++i) {
        if (modelList->itemText(i).startsWith(prefix, Qt::CaseInsensitive)) selected = i;
    }
    modelList->setCurrentIndex(selected);

    abortButton->setEnabled(false);
    if (job_->autoExit) {
        if (refusal.isEmpty()) {
            onOk();
        } else {
            refuseStart(refusal);
        }
    }
    postSoundChanged();
}

QString ProgrammerDialog::applyCommandLine(int designatedRow) {
    const CommandLine line = CommandLine::parse(options_.arguments);
    if (line.model) models_[designatedRow]->name = line.model->toLocal8Bit().toStdString();
    if (line.address) addressValue = *line.address;
    if (line.baudRate) baudValue = *line.baudRate;
    if (line.file) imageFile = *line.file;
    job_->autoExit = 1;
    exchange(false);
    return line.refusal;
}

void ProgrammerDialog::checkLinkButton() {
    QRadioButton* button = nullptr;
    if (driverValue == rw::LINK_TCP) {
        button = ui_->id1019;
    } else if (driverValue == rw::LINK_UDP) {
        button = ui_->id1018;
    } else if (baudValue == 1200) {
        button = ui_->id1023;
    } else if (baudValue == 9600) {
        button = ui_->id1013;
    } else if (baudValue == 19200) {
        button = ui_->id1014;
    } else if (baudValue == 38400) {
        button = ui_->id1015;
    }
    if (button != nullptr) button->setChecked(true);
}

void ProgrammerDialog::showLinkControls() {
    const bool serial = driverValue == rw::LINK_SERIAL;
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
        setTextIfChanged(ui_->id1001, QString::number(addressValue));
        setTextIfChanged(ui_->id1007, statusLine);
        setTextIfChanged(ui_->id1000, imageFile);
        setTextIfChanged(ui_->id1012, crcLine);
        setTextIfChanged(ui_->id1016, elapsedLine);
        QString shown = historyText;
        shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        if (historyEdit->toPlainText() != shown) historyEdit->setPlainText(shown);
        setTextIfChanged(hostPortEdit, hostPort);
        lastHostText_ = hostPort;
        refreshStatusColour();
        return true;
    }
    const std::optional<int> address = parseEditInteger(ui_->id1001->text());
    if (!address) {
        reportValidation(QStringLiteral("Please enter an integer."));
        return false;
    }
    if (*address < 0 || *address > 65535) {
        reportValidation(QStringLiteral("Please enter an integer between 0 and 65535."));
        return false;
    }
    addressValue = *address;
    statusLine = ui_->id1007->text();
    imageFile = ui_->id1000->text();
    crcLine = ui_->id1012->text();
    elapsedLine = ui_->id1016->text();
    historyText = historyEdit->toPlainText();
    historyText.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    hostPort = hostPortEdit->text();
    if (hostPort.size() > kHostRoom) {
        reportValidation(QStringLiteral("Please enter no more than %1 characters.").arg(kHostRoom));
        return false;
    }
    return true;
}

void ProgrammerDialog::reportValidation(const QString& text) {
    if (options_.windowless) {
        CliReporter fallback(stdout, stderr, false);
        (reporter_ ? *reporter_ : fallback).refusal(text.toLocal8Bit());
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
    writeSettings();
    done(QDialog::Rejected);
}

int ProgrammerDialog::selectedRow() const {
    const int index = modelList->currentIndex();
    if (index < 0) return -1;
    bool ok = false;
    const int row = modelList->itemData(index).toInt(&ok);
    if (!ok || row < 0 || row >= static_cast<int>(models_.size())) return -1;
    return row;
}

void ProgrammerDialog::writeSettings() {
    auto settings = openSettings();
    settings->beginGroup(QStringLiteral("Info"));
    const int row = selectedRow();
    settings->setValue(QStringLiteral("IP"), hostPort);
    settings->setValue(QStringLiteral("File"), imageFile);
    settings->setValue(QStringLiteral("Sounds"), QString::fromStdString(rw::soundScheme()));
    settings->setValue(QStringLiteral("Device"), row >= 0 ? row : designatedRow_);
    settings->setValue(QStringLiteral("Port"), portList->currentIndex());
    settings->setValue(QStringLiteral("Driver"), driverValue);
    settings->setValue(QStringLiteral("Address"), addressValue);
    settings->setValue(QStringLiteral("BaudRate"), baudValue);
    settings->endGroup();
    settings->sync();
}

void ProgrammerDialog::stopJob() {
    if (!job_) return;
    deferTimer_.stop();
    queueTimer_.stop();
    stallTimer_.stop();
    job_->running = 0;
    rw::waitForThreadEnd(&job_->workerThread, notifier_->mailbox());
    animation_.join();
    if (job_->logFile != nullptr) std::fclose(job_->logFile);
    job_->logFile = nullptr;
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

void ProgrammerDialog::soundChanged() {
    const bool soundsOn = !rw::soundScheme().empty();
    if (auto* player = dynamic_cast<QtSoundPlayer*>(options_.services.sound); player && soundsOn) {
        player->probeDevice();
    }
    soundIcon->setPixmap(soundsOn ? soundOnBitmap : soundOffBitmap);
    soundIcon->update();
}

void ProgrammerDialog::postSoundChanged() {
    QMetaObject::invokeMethod(this, "soundChanged", Qt::QueuedConnection);
}

void ProgrammerDialog::postFlashDone(int failed) {
    QMetaObject::invokeMethod(
        this, [this, failed] { onFlashDone(failed); }, Qt::QueuedConnection);
}

rw::Clock& ProgrammerDialog::clock() const {
    return options_.clock != nullptr ? *options_.clock : rw::engineClock();
}
