#pragma once
#include <QLabel>

namespace rw {

// The sound indicator: a bitmap static that reports clicks.
class SoundIconLabel : public QLabel {
    Q_OBJECT
  public:
    explicit SoundIconLabel(QWidget* parent = nullptr);

  signals:
    void clicked();

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

}  // namespace rw
