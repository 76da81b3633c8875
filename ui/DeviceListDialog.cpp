#include "ui/DeviceListDialog.h"

#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cstdint>
#include <cstdio>

#include "control/AddressLists.h"
#include "ui/DialogFont.h"
#include "ui/UserPrompts.h"
#include "ui_148.h"

namespace rw {

namespace {

// One retry line: the address as a signed 16-bit number, then CR LF; addresses
// from 32768 up read back negative, and parsing keeps the low 16 bits again.
QString retryLine(uint16_t address) {
    char line[16];
    std::snprintf(line, sizeof line, "%hd\r\n", static_cast<short>(static_cast<int16_t>(address)));
    return QString::fromLatin1(line);
}

// Typed characters other than digits are refused; line breaks, editing and
// navigation keys and shortcuts pass. Pasted or program-set text is not filtered.
bool isRefusedKey(const QKeyEvent& key) {
    if (key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
    const QString text = key.text();
    if (text.isEmpty()) return false;
    for (QChar c : text) {
        if (c.isPrint() && !(c >= u'0' && c <= u'9')) return true;
    }
    return false;
}

}  // namespace

DeviceListDialog::DeviceListDialog(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::DeviceListDialog>()) {
    ui_->setupUi(this);
    nameControls();
    applyDialogFont(*this);
    setWindowFlags((windowFlags() | Qt::MSWindowsFixedSizeDialogHint) &
                   ~Qt::WindowContextHelpButtonHint);
    addressEdit->installEventFilter(this);
    connect(goButton, &QPushButton::clicked, this, &DeviceListDialog::accept);
    connect(abortButton, &QPushButton::clicked, this, &DeviceListDialog::reject);
}

DeviceListDialog::~DeviceListDialog() = default;

void DeviceListDialog::nameControls() {
    addressEdit = ui_->addressEdit;
    goButton = ui_->goButton;
    abortButton = ui_->abortButton;
}

void DeviceListDialog::exchange(bool toMembers) {
    if (toMembers) {
        QString text = addressEdit->toPlainText();
        text.replace(u'\n', QStringLiteral("\r\n"));
        addressText = text;
    } else {
        QString text = addressText;
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        addressEdit->setPlainText(text);
    }
}

void DeviceListDialog::initDialog() {
    exchange(false);
    AddressList& failed = failedList();
    if (failed.size() > 1) {
        setWindowTitle(QString::asprintf("Retry %d Failed Devices...", int(failed.size())));
        for (uint16_t address : failed) addressText += retryLine(address);
        failed.clear();
        exchange(false);
    }
    addressEdit->setFocus(Qt::OtherFocusReason);
}

int DeviceListDialog::runModal() {
    initDialog();
    setResult(QDialog::Rejected);
    userPrompts().runModal(*this);
    return result();
}

bool DeviceListDialog::runAndQueue(QWidget* parent) {
    DeviceListDialog dialog(parent);
    if (dialog.runModal() != QDialog::Accepted) return false;
    queueAddressList(dialog.addressText.toStdString());
    return true;
}

void DeviceListDialog::accept() {
    exchange(true);
    QDialog::accept();
}

bool DeviceListDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == addressEdit && event->type() == QEvent::KeyPress &&
        isRefusedKey(*static_cast<QKeyEvent*>(event))) {
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace rw
