#pragma once
#include <QRect>
#include <optional>

class QFontMetricsF;
class QString;
class QWidget;

namespace rw {

// A font's dialog base units in pixels: the average width of the letters A-Z
// and a-z rounded to a whole pixel, and the height of a line of text rounded up.
// One dialog unit is a quarter of the horizontal and an eighth of the vertical
// base unit, so a layout in dialog units grows and shrinks with its font.
struct DialogBaseUnits {
    int x = 0;
    int y = 0;
};

// Base units from the width of the 52 letters written in one row and the
// line height, in whole pixels.
DialogBaseUnits dialogBaseUnits(int lettersWidth, int lineHeight);
DialogBaseUnits dialogBaseUnits(const QFontMetricsF& metrics);

// The pixels of a rectangle in dialog units, each value rounded to the nearest
// pixel (halves up). A rectangle without a valid size keeps it invalid.
QRect dialogUnitsToPixels(const QRect& units, DialogBaseUnits base);

// The rectangle of a "dlu" text: "x,y,w,h", or "x,y" for a control shown at its
// own size (the result then has an invalid size). Nothing for any other text.
std::optional<QRect> parseDialogUnits(const QString& text);

// Lays the dialog out in its current font: each direct child that has a "dlu"
// property goes to that rectangle, and the dialog takes the fixed client size of
// its own "dlu". A combo box's height in dialog units is the room of its
// dropped-down list; the closed box keeps the height its style asks for.
void layOutInDialogUnits(QWidget& dialog);

}  // namespace rw
