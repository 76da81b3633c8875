#include "ui/ControlValues.h"

#include <QLabel>
#include <QStringList>

namespace rw {

std::optional<int> parseEditInteger(const QString& text) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (!ok) return std::nullopt;
    return value;
}

void showFailure(QLabel& statusLine, bool failed, const std::string& why, const std::string& note) {
    QStringList lines;
    if (failed && !why.empty()) lines << QString::fromLocal8Bit(why.c_str());
    if (!note.empty()) lines << QString::fromLocal8Bit(note.c_str());
    const QString tip = lines.join(u'\n');
    if (statusLine.toolTip() != tip) statusLine.setToolTip(tip);
    if (statusLine.autoFillBackground() == failed) return;
    if (failed) {
        QPalette palette = statusLine.palette();
        palette.setColor(QPalette::Window, QColor(255, 0, 0));
        palette.setColor(QPalette::WindowText, QColor(255, 255, 255));
        statusLine.setPalette(palette);
    } else {
        statusLine.setPalette(QPalette());
    }
    statusLine.setAutoFillBackground(failed);
}

}  // namespace rw
