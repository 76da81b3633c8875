// Dialog layouts in dialog units: the conversion with a font's base units, and
// the three dialogs sized from them (CMake runs this file's tests once more at
// scale factor 2).

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

using DialogLayoutTest = WindowTest;

// Each dialog takes its size from its units in the font it shows, whatever the
// font; its shown controls stay inside it and do not overlap.
TEST_F(DialogLayoutTest, EveryDialogIsSizedFromItsUnitsInTheFontItShows) {
    auto main = makeDialog();
    rw::AboutDialog about;
    rw::DeviceListDialog deviceList(nullptr);
    QFont taller(QStringLiteral("DejaVu Sans"));
    taller.setPixelSize(13);
    for (const std::optional<QFont>& font : {std::optional<QFont>(), std::optional(taller)}) {
        for (QDialog* dialog : {static_cast<QDialog*>(main.get()), static_cast<QDialog*>(&about),
                                static_cast<QDialog*>(&deviceList)}) {
            if (font) rw::applyDialogFont(*dialog, *font);
            SCOPED_TRACE(dialog->fontInfo().family().toStdString());
            const auto units = rw::parseDialogUnits(dialog->property("dlu").toString());
            ASSERT_TRUE(units);
            const auto base = rw::dialogBaseUnits(QFontMetricsF(dialog->font(), dialog));
            EXPECT_EQ(dialog->size(), rw::dialogUnitsToPixels(*units, base).size());
            std::vector<QWidget*> shown;
            for (QWidget* control : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                const std::string name = control->objectName().toStdString();
                EXPECT_TRUE(QRect(QPoint(), dialog->size()).contains(control->geometry())) << name;
                if (control->isHidden()) continue;
                for (QWidget* other : shown)
                    EXPECT_FALSE(other->geometry().intersects(control->geometry())) << name;
                shown.push_back(control);
            }
        }
    }
}

}  // namespace
}  // namespace rwtest
