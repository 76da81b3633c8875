#include "ui/AboutDialog.h"

#include <QIcon>

#include "ui/DialogFont.h"
#include "ui/VersionRecord.h"
#include "ui_100.h"

namespace {
const char* const kStringBlock = "\\StringFileInfo\\040904b0\\";
}  // namespace

AboutDialog::AboutDialog(QWidget* parent, const QString& recordPath)
    : QDialog(parent), ui_(std::make_unique<Ui::Dialog100>()) {
    ui_->setupUi(this);
    setFont(dialogFont());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    ui_->programIcon->setPixmap(QIcon(QStringLiteral(":/icons/130-32.png")).pixmap(32, 32));
    connect(ui_->id1, &QPushButton::clicked, this, &QDialog::accept);
    readVersionRecord(recordPath.isEmpty() ? VersionRecord::compiledPath() : recordPath);
    exchange(false);
}

AboutDialog::~AboutDialog() = default;

void AboutDialog::readVersionRecord(const QString& recordPath) {
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
    productText_ = product + QStringLiteral(" v") + version;
    companyText_ = company + QStringLiteral(", ") + copyright;
}

void AboutDialog::exchange(bool toMembers) {
    if (toMembers) {
        companyText_ = ui_->id1028->text();
        productText_ = ui_->id1027->text();
    } else {
        ui_->id1028->setText(companyText_);
        ui_->id1027->setText(productText_);
    }
}
