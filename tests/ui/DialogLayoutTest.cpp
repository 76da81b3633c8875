// Dialog layouts in dialog units: the conversion with a font's base units, and
// every text of the three dialogs fitting its control in several fonts (CMake
// runs this file's tests once more at scale factor 2).
#include <QApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>

#include "WindowTestSupport.h"
#include "ui/AboutDialog.h"
#include "ui/DeviceListDialog.h"
#include "ui/DialogFont.h"
#include "ui/DialogUnits.h"

namespace rwtest {
namespace {

TEST(DialogUnits, ConvertWithTheFontsBaseUnitsRoundingHalvesUp) {
    const struct {
        int lettersWidth, lineHeight;  // the 52 letters in a row, a line's height
        QRect units, pixels;
    } cases[] = {
        // The templates' own font: 6 x 13 base units, 1.5 x 1.625 pixels a unit.
        {312, 13, {0, 0, 350, 310}, {0, 0, 525, 504}},
        // 337 / 52 = 6.48 is 6; 75 * 6 / 4 = 112.5 and 12 * 13 / 8 = 19.5 round up.
        {337, 13, {24, 35, 75, 12}, {36, 57, 113, 20}},
        // 338 / 52 = 6.5 is 7; a taller font.
        {338, 14, {104, 13, 100, 50}, {182, 23, 175, 88}},
        // A control shown at its own size: only its place is converted.
        {312, 13, {QPoint(332, 293), QSize()}, {QPoint(498, 476), QSize()}},
    };
    for (const auto& c : cases) {
        const rw::DialogBaseUnits base = rw::dialogBaseUnits(c.lettersWidth, c.lineHeight);
        EXPECT_EQ(rw::dialogUnitsToPixels(c.units, base), c.pixels) << c.lettersWidth;
    }
}

// The room a control's text needs: its size hint, without what a style adds for
// looks alone (a push button's minimum width, a button's margins around its line).
// A radio button's indicator must show whole too.
QSize neededSize(QWidget& control) {
    if (qobject_cast<QLabel*>(&control) || qobject_cast<QComboBox*>(&control)) {
        return control.sizeHint();
    }
    auto* button = qobject_cast<QAbstractButton*>(&control);
    if (button == nullptr) return {};
    const int line = button->fontMetrics().height();
    if (qobject_cast<QRadioButton*>(button)) {
        const int indicator =
            button->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorHeight, nullptr, button);
        return {button->sizeHint().width(), std::max(line, indicator)};
    }
    QStyleOptionButton option;
    option.initFrom(button);  // without its text the style adds no minimum width
    const QSize text = button->fontMetrics().size(Qt::TextShowMnemonic, button->text());
    return {button->style()->sizeFromContents(QStyle::CT_PushButton, &option, text, button).width(),
            line};
}

// Every control of the dialog is placed from dialog units, holds its text, stays
// inside the dialog and overlaps no other shown control.
void expectLaidOut(QDialog& dialog) {
    // The dialog's size comes from its units in the font it shows now.
    const std::optional<QRect> units = rw::parseDialogUnits(dialog.property("dlu").toString());
    ASSERT_TRUE(units);
    const rw::DialogBaseUnits base = rw::dialogBaseUnits(QFontMetricsF(dialog.font(), &dialog));
    EXPECT_EQ(dialog.size(), rw::dialogUnitsToPixels(*units, base).size());
    const QRect client(QPoint(), dialog.size());
    std::vector<QWidget*> shown;
    for (QObject* child : dialog.children()) {
        auto* control = qobject_cast<QWidget*>(child);
        if (control == nullptr) continue;
        SCOPED_TRACE(control->objectName().toStdString());
        EXPECT_TRUE(rw::parseDialogUnits(control->property("dlu").toString()));
        const QSize need = neededSize(*control);
        EXPECT_GE(control->width(), need.width());
        EXPECT_GE(control->height(), need.height());
        EXPECT_TRUE(client.contains(control->geometry()));
        if (control->isHidden()) continue;
        for (QWidget* other : shown) {
            EXPECT_FALSE(other->geometry().intersects(control->geometry()))
                << other->objectName().toStdString();
        }
        shown.push_back(control);
    }
}

QFont pixelFont(const char* family, int pixels) {
    QFont font{QString::fromLatin1(family)};
    font.setPixelSize(pixels);
    return font;
}

using DialogLayoutTest = WindowTest;

TEST_F(DialogLayoutTest, EveryTextHasTheRoomItsFontNeeds) {
    const std::pair<const char*, std::optional<QFont>> fonts[] = {
        {"as constructed, in the dialogs' own font", std::nullopt},
        {"the platform's default font", QApplication::font()},
        {"DejaVu Sans 11 px", pixelFont("DejaVu Sans", 11)},
        {"DejaVu Sans 13 px, a line 15.1 px high", pixelFont("DejaVu Sans", 13)},
        {"DejaVu Sans Condensed 11 px", pixelFont("DejaVu Sans Condensed", 11)},
        {"Liberation Sans 11 px, metrics as the templates' font's look-alikes",
         pixelFont("Liberation Sans", 11)},
    };
    auto main = makeDialog();
    // The widest texts a job writes into the labels the template sized for them.
    main->crcLabel->setText(QStringLiteral("CRC8 = ff hex"));
    main->elapsedLabel->setText(QStringLiteral("9999.9 seconds"));
    rw::AboutDialog about;
    rw::DeviceListDialog deviceList(nullptr);
    for (const auto& [name, font] : fonts) {
        for (QDialog* dialog : {static_cast<QDialog*>(main.get()), static_cast<QDialog*>(&about),
                                static_cast<QDialog*>(&deviceList)}) {
            if (font) rw::applyDialogFont(*dialog, *font);
            SCOPED_TRACE(std::string(name) + ": " + dialog->fontInfo().family().toStdString());
            expectLaidOut(*dialog);
        }
    }
}

}  // namespace
}  // namespace rwtest
