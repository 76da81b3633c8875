#include "ui/ProgressBarButton.h"

#include <QPainter>

namespace rw {

namespace {
// The written fraction, in single precision in every use (text, fill width,
// colour), which keeps the three in step and fixes the shown values: 1 of 3 bytes
// shows 33%, 29 of 100 show 29% and 53 of 100 show 52% (double precision would
// show 28% and 53%), and a full image exactly 100%.
float writtenFraction(const ProgressState& state) {
    if (state.imageLength == 0) return 0.0f;
    return static_cast<float>(state.bytesWritten) / static_cast<float>(state.imageLength);
}
}  // namespace

ProgressBarButton::ProgressBarButton(QWidget* parent) : QPushButton(parent) {}

void ProgressBarButton::setStateSource(StateSource source) {
    source_ = std::move(source);
    update();
}

QString ProgressBarButton::percentText(const ProgressState& state) {
    return QStringLiteral("%1%").arg(static_cast<int>(writtenFraction(state) * 100.0f));
}

int ProgressBarButton::fillWidth(const ProgressState& state, int widthPx) {
    if (state.imageLength == 0) return 0;
    return static_cast<int>(static_cast<float>(widthPx - 2) * writtenFraction(state));
}

QColor ProgressBarButton::fillColour(const ProgressState& state) {
    if (state.failed) return QColor(255, 0, 0);
    if (static_cast<int>(writtenFraction(state)) != 0) return QColor(0, 255, 0);
    return QColor(255, 255, 0);
}

void ProgressBarButton::paintBar(QPainter& painter, const ProgressState& state, int widthPx,
                                 int heightPx, const QPalette& palette) {
    painter.fillRect(0, 0, widthPx, heightPx, palette.color(QPalette::Window));
    // Sunken outer edge: shadow on the top and left, highlight on the bottom and right.
    painter.setPen(palette.color(QPalette::Dark));
    painter.drawLine(0, 0, widthPx - 2, 0);
    painter.drawLine(0, 0, 0, heightPx - 2);
    painter.setPen(palette.color(QPalette::Light));
    painter.drawLine(0, heightPx - 1, widthPx - 1, heightPx - 1);
    painter.drawLine(widthPx - 1, 0, widthPx - 1, heightPx - 1);

    if (state.imageLength != 0) {
        const int width = fillWidth(state, widthPx);
        if (width > 0) painter.fillRect(1, 1, width, heightPx - 2, fillColour(state));
    }
    painter.setPen(palette.color(QPalette::ButtonText));
    const QRect textRect(1, 1, widthPx - 2, heightPx - 3);
    painter.drawText(textRect, Qt::AlignCenter | Qt::TextSingleLine, percentText(state));
}

void ProgressBarButton::paintEvent(QPaintEvent* event) {
    std::optional<ProgressState> state = source_ ? source_() : std::nullopt;
    if (!state) {
        QPushButton::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.setFont(font());
    paintBar(painter, *state, width(), height(), palette());
}

}  // namespace rw
