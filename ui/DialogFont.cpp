#include "ui/DialogFont.h"

#include <QWidget>
#include <mutex>

#include "ui/DialogUnits.h"

namespace rw {

namespace {
void addFontSubstitutions() {
    QFont::insertSubstitutions(
        QStringLiteral("MS Sans Serif"),
        QStringList{QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Arial"),
                    QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans"),
                    QStringLiteral("Helvetica"), QStringLiteral("DejaVu Sans")});
}
}  // namespace

QFont dialogFont() {
    static std::once_flag once;
    std::call_once(once, addFontSubstitutions);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    return font;
}

void applyDialogFont(QWidget& dialog, const QFont& font) {
    dialog.setFont(font);
    layOutInDialogUnits(dialog);
}

}  // namespace rw
