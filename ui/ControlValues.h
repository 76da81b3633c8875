#pragma once
#include <QString>
#include <optional>
#include <string>

class QLabel;

namespace rw {

// What the main window's data exchange does to single controls.

// The decimal integer of an edit control: blanks around an optionally signed
// run of digits, nothing else, within the int range; empty otherwise.
std::optional<int> parseEditInteger(const QString& text);

// Sets a control's text only when it differs (no flicker, no cursor reset).
template <class Control>
void setTextIfChanged(Control& control, const QString& text) {
    if (control.text() != text) control.setText(text);
}

// The status line is white on red while the job has failed, in the window's
// own colours otherwise; while failed its tooltip says why, when that is known
// (`why`, in the local 8-bit encoding; empty: no tooltip). `note`, when not
// empty, is in the tooltip whatever the status (a problem beside the job's own).
void showFailure(QLabel& statusLine, bool failed, const std::string& why = {},
                 const std::string& note = {});

}  // namespace rw
