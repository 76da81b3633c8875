// The About box and the version record it reads, and how the window opens it.
#include <QAction>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>

#include "WindowTestSupport.h"
#include "ui/AboutDialog.h"
#include "ui/VersionRecord.h"

using namespace wintest;

namespace {

struct AboutCase {
    const char* name;
    std::optional<std::string> record;  // empty: no record at all
    const char* product;
    const char* company;
};

class AboutBox : public ::testing::TestWithParam<AboutCase> {};

TEST_P(AboutBox, ShowsTheRecordOrItsDefaults) {
    const AboutCase& c = GetParam();
    rwtest::TempDir dir;
    QString path = QStringLiteral("/no/such/record.ver");
    if (c.record)
        path = QString::fromStdString(rwtest::writeFile(dir.path() / "r.ver", *c.record).string());
    AboutDialog about(nullptr, path);
    EXPECT_EQ(about.productText(), c.product);
    EXPECT_EQ(about.companyText(), c.company);
    EXPECT_EQ(about.findChild<QLabel*>("id1027")->text(), c.product);
    EXPECT_EQ(about.findChild<QLabel*>("id1028")->text(), c.company);
    EXPECT_EQ(about.windowTitle(), "About Romwright");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AboutBox,
    ::testing::Values(
        AboutCase{"noRecord", std::nullopt, "KVT Romwright v1.1",
                  "KVT Controls, Copyright (C) 2024"},
        AboutCase{"versionWithoutCommas",
                  "[StringFileInfo\\040904b0]\nProductVersion=2.0 beta\nCompanyName=Acme\n",
                  "KVT Romwright v2.0 beta", "Acme, Copyright (C) 2024"},
        AboutCase{"otherLanguageOnly", "[StringFileInfo\\040704b0]\nProductName=Other\n",
                  "KVT Romwright v1.1", "KVT Controls, Copyright (C) 2024"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AboutBoxCompiled, ReadsTheVersionRecordBuiltIntoTheProgram) {
    AboutDialog about;
    EXPECT_EQ(about.productText(), "KVT Romwright v1. 1. 0. 4");
    EXPECT_TRUE(about.companyText().startsWith("KVT Controls, Copyright"));
    const auto record = VersionRecord::load(VersionRecord::compiledPath());
    ASSERT_TRUE(record);
    const QString block = "\\StringFileInfo\\040904b0\\";
    EXPECT_EQ(record->query(block + "FileVersion"), "1, 1, 0, 4");
    EXPECT_EQ(record->query(block + "FileDescription"), "Flash Device Programmer");
    EXPECT_EQ(record->query(block + "InternalName"), "Romwright");
    EXPECT_EQ(record->query(block + "OriginalFilename"), "Romwright.EXE");
    EXPECT_EQ(record->query(block + "ProductName"), "KVT Romwright");
    EXPECT_EQ(record->query(block + "Comments"), std::nullopt);
}

class AboutCommand : public WindowTest {};

TEST_F(AboutCommand, F1TheContextMenuAndSystemCommandsOpenIt) {
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
    EXPECT_EQ(opened.size(), 3);

    QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
    QCoreApplication::sendEvent(dialog.get(), &f1);
    EXPECT_EQ(opened.size(), 4);
    EXPECT_EQ(opened.value(0), "KVT Romwright v1. 1. 0. 4");
    dialog->closeCommand();
}

}  // namespace
