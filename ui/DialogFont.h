#pragma once
#include <QFont>
#include <QStringList>

class QWidget;

namespace rw {

// The font the dialog templates were drawn for: "MS Sans Serif" 8 pt (11
// pixels), with look-alikes standing in where it is not installed and the
// platform's sans-serif font where none is.
QFont dialogFont();

// Gives the dialog this font and lays its controls out from their dialog units
// in it (DialogUnits.h), so every text has the room the font needs.
void applyDialogFont(QWidget& dialog, const QFont& font = dialogFont());

}  // namespace rw
