#pragma once
#include <QFont>
#include <QStringList>

// The font the dialog templates are laid out for: "MS Sans Serif" 8 pt (11
// pixels), with metric look-alikes standing in where it is not installed, so
// the converted control geometry holds its texts.
QFont dialogFont();
