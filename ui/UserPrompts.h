#pragma once
#include <QPoint>
#include <QString>

class QAction;
class QDialog;
class QMenu;
class QWidget;

namespace rw {

// The program's modal questions to the operator: message boxes and the file-open
// dialog. Everything goes through the installed instance, so tests answer them
// without a human and command-line mode can refuse to ask at all.
class UserPrompts {
  public:
    virtual ~UserPrompts() = default;
    // An OK-only message box captioned with the application's name.
    virtual void message(QWidget* parent, const QString& text);
    // The file-open dialog; the chosen file's full path, or empty when cancelled.
    virtual QString openFileName(QWidget* parent, const QString& title, const QString& folder,
                                 const QString& filter);
    // Runs a dialog modally.
    virtual void runModal(QDialog& dialog);
    // Shows a popup menu at a screen position; the chosen action or null.
    virtual QAction* popupMenu(QMenu& menu, const QPoint& globalPos);
};

// The installed prompts; the real dialogs unless a test installed others.
UserPrompts& userPrompts();
// Installs prompts (null restores the real dialogs). The caller keeps ownership.
void setUserPrompts(UserPrompts* prompts);

}  // namespace rw
