#pragma once
#include <QPushButton>
#include <functional>
#include <optional>

class QPainter;

namespace rw {

// What the progress bar shows: the job's image length, bytes written and failed flag.
struct ProgressState {
    int imageLength = 0;
    int bytesWritten = 0;
    bool failed = false;
};

// The owner-drawn button that serves as the progress bar: a sunken one-pixel edge,
// a fill whose width and colour follow the job, and the percentage centred on it.
class ProgressBarButton : public QPushButton {
    Q_OBJECT
  public:
    // Reads the job at paint time; an empty result (no job record) paints the
    // button's default appearance.
    using StateSource = std::function<std::optional<ProgressState>()>;

    explicit ProgressBarButton(QWidget* parent = nullptr);
    void setStateSource(StateSource source);

    // "%d%%" of the written fraction, truncated toward zero; "0%" for an empty image.
    static QString percentText(const ProgressState& state);
    // Width of the fill inside an edge of total width widthPx (0 for an empty image).
    static int fillWidth(const ProgressState& state, int widthPx);
    // Red when failed, green when everything is written, yellow otherwise.
    static QColor fillColour(const ProgressState& state);
    // Draws the whole bar into a widthPx x heightPx area at the painter's origin.
    static void paintBar(QPainter& painter, const ProgressState& state, int widthPx, int heightPx,
                         const QPalette& palette);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    StateSource source_;
};

}  // namespace rw
