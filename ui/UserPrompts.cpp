#include "ui/UserPrompts.h"

#include <QCoreApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>

namespace rw {

void UserPrompts::message(QWidget* parent, const QString& text) {
    QMessageBox::warning(parent, QCoreApplication::applicationName(), text, QMessageBox::Ok);
}

QString UserPrompts::openFileName(QWidget* parent, const QString& title, const QString& folder,
                                  const QString& filter) {
    return QFileDialog::getOpenFileName(parent, title, folder, filter);
}

void UserPrompts::runModal(QDialog& dialog) {
    dialog.exec();
}

QAction* UserPrompts::popupMenu(QMenu& menu, const QPoint& globalPos) {
    return menu.exec(globalPos);
}

namespace {
UserPrompts* installedPrompts = nullptr;
}  // namespace

UserPrompts& userPrompts() {
    static UserPrompts realPrompts;
    return installedPrompts != nullptr ? *installedPrompts : realPrompts;
}

void setUserPrompts(UserPrompts* prompts) {
    installedPrompts = prompts;
}

}  // namespace rw
