#include "ui/SoundIconLabel.h"

#include <QMouseEvent>

namespace rw {

SoundIconLabel::SoundIconLabel(QWidget* parent) : QLabel(parent) {}

void SoundIconLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit clicked();
    }
    QLabel::mouseReleaseEvent(event);
}

}  // namespace rw
