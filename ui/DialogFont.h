#pragma once
#include <QFont>
#include <QStringList>

namespace rw {

// The font the dialog templates are laid out for: "MS Sans Serif" 8 pt (11
// pixels), with metric look-alikes standing in where it is not installed, so
// the templates' control geometry holds its texts.
QFont dialogFont();

}  // namespace rw
