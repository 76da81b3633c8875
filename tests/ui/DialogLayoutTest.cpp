// Dialog layouts in dialog units: the conversion with a font's base units, and
// every text of the three dialogs fitting its control in several fonts (CMake
// runs this file's tests once more at scale factor 2).
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>

#include "ui/AboutDialog.h"
#include "ui/DeviceListDialog.h"
#include "ui/DialogFont.h"
#include "ui/DialogUnits.h"
#include "ui/ProgrammerDialog.h"

namespace rwtest {
namespace {

// 337 / 52 letters = 6.48 is 6; 75 * 6 / 4 = 112.5 and 12 * 13 / 8 = 19.5 round up;
// 338 / 52 = 6.5 is 7.
TEST(DialogUnits, ConvertWithTheFontsBaseUnitsRoundingHalvesUp) {
    EXPECT_EQ(rw::dialogUnitsToPixels({24, 35, 75, 12}, rw::dialogBaseUnits(337, 13)),
              QRect(36, 57, 113, 20));
    EXPECT_EQ(rw::dialogUnitsToPixels({104, 13, 100, 50}, rw::dialogBaseUnits(338, 14)),
              QRect(182, 23, 175, 88));
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
    std::vector<QWidget*> shown;
    for (QObject* child : dialog.children()) {
        auto* control = qobject_cast<QWidget*>(child);
        if (control == nullptr) continue;
        SCOPED_TRACE(control->objectName().toStdString());
        EXPECT_TRUE(rw::parseDialogUnits(control->property("dlu").toString()));
        EXPECT_EQ(control->size().expandedTo(neededSize(*control)), control->size());
        EXPECT_TRUE(QRect(QPoint(), dialog.size()).contains(control->geometry()));
        if (control->isHidden()) continue;
        for (QWidget* other : shown) {
            EXPECT_FALSE(other->geometry().intersects(control->geometry()))
                << other->objectName().toStdString();
        }
        shown.push_back(control);
    }
}

// Six fonts: as constructed (the dialogs' own font), the platform's default, and
// DejaVu Sans 11 and 13 px (a line 15.1 px high), DejaVu Sans Condensed and
// Liberation Sans (metrics as the templates' font's look-alikes) 11 px.
TEST(DialogLayoutTest, EveryTextHasTheRoomItsFontNeeds) {
    const std::pair<const char*, int> fonts[] = {{"", 0},
                                                 {"default", 0},
                                                 {"DejaVu Sans", 11},
                                                 {"DejaVu Sans", 13},
                                                 {"DejaVu Sans Condensed", 11},
                                                 {"Liberation Sans", 11}};
    rw::DialogOptions options;
    options.siblingServer = QStringLiteral("romwright-test-no-sibling-%1").arg(::getpid());
    rw::ProgrammerDialog main(options);
    // The widest texts a job writes into the labels the template sized for them.
    main.crcLabel->setText(QStringLiteral("CRC8 = ff hex"));
    main.elapsedLabel->setText(QStringLiteral("9999.9 seconds"));
    rw::AboutDialog about;
    rw::DeviceListDialog deviceList(nullptr);
    for (const auto& [family, pixels] : fonts) {
        QFont font = pixels > 0 ? QFont(QString::fromLatin1(family)) : QApplication::font();
        if (pixels > 0) font.setPixelSize(pixels);
        for (QDialog* dialog : std::initializer_list<QDialog*>{&main, &about, &deviceList}) {
            if (*family) rw::applyDialogFont(*dialog, font);
            SCOPED_TRACE(std::string(family) + " " + std::to_string(pixels) + ": " +
                         dialog->fontInfo().family().toStdString());
            expectLaidOut(*dialog);
        }
    }
}

}  // namespace
}  // namespace rwtest
