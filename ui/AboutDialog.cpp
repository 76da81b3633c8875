#include "ui/AboutDialog.h"

#include <QIcon>

#include "ui/DialogFont.h"
#include "ui/VersionRecord.h"
#include "ui_100.h"

namespace rw {

namespace {
const char* const kStringBlock = "\\StringFileInfo\\040904b0\\";
}  // namespace

AboutDialog::AboutDialog(QWidget* parent, const QString& recordPath)
    : QDialog(parent), ui_(std::make_unique<Ui::Dialog100>()) {
    ui_->setupUi(this);
    applyDialogFont(*this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    nameControls();
    iconLabel->setPixmap(QIcon(QStringLiteral(":/icons/130-32.png")).pixmap(32, 32));
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
    showVersionRecord(recordPath.isEmpty() ? VersionRecord::compiledPath() : recordPath);
}

AboutDialog::~AboutDialog() = default;

void AboutDialog::nameControls() {
    iconLabel = ui_->programIcon;
    productLabel = ui_->id1027;
    companyLabel = ui_->id1028;
    okButton = ui_->id1;
}

void AboutDialog::showVersionRecord(const QString& recordPath) {
    QString company = QStringLiteral("KVT Controls");
    QString product = QStringLiteral("KVT Romwright");
    QString copyright = QStringLiteral("Copyright (C) 2024");
    QString version = QStringLiteral("1.1");
    if (std::optional<VersionRecord> record = VersionRecord::load(recordPath)) {
        const QString block = QString::fromLatin1(kStringBlock);
        product = record->query(block + QStringLiteral("ProductName")).value_or(product);
        company = record->query(block + QStringLiteral("CompanyName")).value_or(company);
        copyright = record->query(block + QStringLiteral("LegalCopyright")).value_or(copyright);
        if (auto value = record->query(block + QStringLiteral("ProductVersion"))) {
            version = value->replace(QLatin1Char(','), QLatin1Char('.'));
        }
    }
    productLabel->setText(product + QStringLiteral(" v") + version);
    companyLabel->setText(company + QStringLiteral(", ") + copyright);
}

}  // namespace rw
