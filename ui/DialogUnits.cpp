#include "ui/DialogUnits.h"

#include <QComboBox>
#include <QFontMetricsF>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QWidget>
#include <QtMath>

namespace rw {

namespace {

const char* const kUnitsProperty = "dlu";

// value * base / divisor rounded to the nearest whole number, halves up, for
// the non-negative values of a layout.
int scaled(int value, int base, int divisor) {
    return (value * base + divisor / 2) / divisor;
}

}  // namespace

DialogBaseUnits dialogBaseUnits(int lettersWidth, int lineHeight) {
    // The average of 52 letters rounded: (width / 26 + 1) / 2 is width / 52 with
    // halves rounded up, in whole pixels as the layouts were designed with.
    return {(lettersWidth / 26 + 1) / 2, lineHeight};
}

DialogBaseUnits dialogBaseUnits(const QFontMetricsF& metrics) {
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    // A label one line high needs the line's full height: ascent, descent and
    // leading, rounded up as a label rounds its text's height.
    return dialogBaseUnits(qRound(metrics.horizontalAdvance(letters)),
                           qCeil(metrics.lineSpacing()));
}

QRect dialogUnitsToPixels(const QRect& units, DialogBaseUnits base) {
    const QPoint position(scaled(units.x(), base.x, 4), scaled(units.y(), base.y, 8));
    if (!units.size().isValid()) return {position, QSize()};
    return {position, QSize(scaled(units.width(), base.x, 4), scaled(units.height(), base.y, 8))};
}

std::optional<QRect> parseDialogUnits(const QString& text) {
    const QStringList parts = text.split(u',');
    if (parts.size() != 2 && parts.size() != 4) return std::nullopt;
    int values[4] = {0, 0, -1, -1};
    for (qsizetype i = 0; i < parts.size(); ++i) {
        bool ok = false;
        values[i] = parts[i].trimmed().toInt(&ok);
        if (!ok || values[i] < 0) return std::nullopt;
    }
    if (parts.size() == 2) return QRect(QPoint(values[0], values[1]), QSize());
    return QRect(values[0], values[1], values[2], values[3]);
}

void layOutInDialogUnits(QWidget& dialog) {
    const DialogBaseUnits base = dialogBaseUnits(QFontMetricsF(dialog.font(), &dialog));
    for (QObject* child : dialog.children()) {
        auto* control = qobject_cast<QWidget*>(child);
        if (control == nullptr) continue;
        const std::optional<QRect> units =
            parseDialogUnits(control->property(kUnitsProperty).toString());
        if (!units) continue;
        QRect pixels = dialogUnitsToPixels(*units, base);
        if (!pixels.size().isValid()) pixels.setSize(control->size());
        if (auto* combo = qobject_cast<QComboBox*>(control)) {
            pixels.setHeight(combo->sizeHint().height());
        }
        control->setGeometry(pixels);
    }
    const auto units = parseDialogUnits(dialog.property(kUnitsProperty).toString());
    if (units && units->size().isValid()) {
        dialog.setFixedSize(dialogUnitsToPixels(*units, base).size());
    }
}

}  // namespace rw
