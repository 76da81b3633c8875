// The About box with and without a version record, and how the window opens it.
#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>

#include "WindowTestSupport.h"
#include "ui/AboutDialog.h"

using namespace wintest;

namespace {

TEST(AboutBox, ShowsTheRecordOrItsDefaults) {
    const struct {
        std::optional<std::string> record;  // none: no record file at all
        const char* product;
        const char* company;
    } cases[] = {
        {std::nullopt, "KVT Romwright v1.1", "KVT Controls, Copyright (C) 2024"},
        {"[StringFileInfo\\040904b0]\nProductVersion=2.0 beta\nCompanyName=Acme\n",
         "KVT Romwright v2.0 beta", "Acme, Copyright (C) 2024"},
        {"[StringFileInfo\\040704b0]\nProductName=Other\n",  // another language only
         "KVT Romwright v1.1", "KVT Controls, Copyright (C) 2024"},
    };
    rwtest::TempDir dir;
    for (const auto& c : cases) {
        const std::string path = c.record ? rwtest::writeFile(dir.path() / "r.ver", *c.record)
                                          : "/no/such/record.ver";
        AboutDialog about(nullptr, QString::fromStdString(path));
        EXPECT_EQ(about.findChild<QLabel*>("id1027")->text(), c.product);
        EXPECT_EQ(about.findChild<QLabel*>("id1028")->text(), c.company);
    }
    // The record built into the program: its commas become ". ".
    EXPECT_EQ(AboutDialog().productText(), "KVT Romwright v1. 1. 0. 4");
}

using AboutCommand = WindowTest;

TEST_F(AboutCommand, OpensFromF1TheContextMenuAndTheSystemCommands) {
    auto dialog = makeDialog();
    QStringList opened;
    prompts_.onModal = [&](QDialog& modal) {
        auto* about = dynamic_cast<AboutDialog*>(&modal);
        opened << (about ? about->productText() : QStringLiteral("other"));
    };
    dialog->systemCommand(16);
    dialog->systemCommand(31);
    dialog->systemCommand(32);  // not the About command
    EXPECT_EQ(opened.size(), 2);
    QStringList menuTexts;
    prompts_.menuAnswer = [&](QMenu& menu) -> QAction* {
        for (QAction* action : menu.actions()) menuTexts << action->text();
        return menu.actions().value(0);
    };
    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(5, 5), QPoint(5, 5));
    QCoreApplication::sendEvent(dialog.get(), &rightClick);
    EXPECT_EQ(menuTexts, QStringList({"&About Romwright..."}));
    QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
    QCoreApplication::sendEvent(dialog.get(), &f1);
    EXPECT_EQ(opened, QStringList(4, "KVT Romwright v1. 1. 0. 4"));
    dialog->closeCommand();
}

}  // namespace
