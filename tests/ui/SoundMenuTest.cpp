// The sound-scheme menu over a test Sounds folder, answered through the menu runner.
#include <QAction>
#include <QMenu>
#include <filesystem>

#include "WindowTestSupport.h"
#include "ui/SoundMenu.h"

namespace rwtest {
namespace {

namespace fs = std::filesystem;

using SoundMenuTest = WindowTest;

// Items read "text id", with "*" when checked; the folder order is kept.
TEST_F(SoundMenuTest, ItemsIdsAndChecksFollowTheFolderOrderAndSchemeAndEscapeTurnsOff) {
    const fs::path sounds = data_.path() / "Sounds";
    for (const char* name : {"Quiet", "Loud", ".hidden"}) fs::create_directories(sounds / name);
    writeFile(sounds / "readme.txt", "not a scheme");
    std::vector<std::string> order;
    for (const auto& entry : fs::directory_iterator(sounds))
        if (entry.is_directory() && entry.path().filename().string()[0] != '.')
            order.push_back(entry.path().filename().string());
    ASSERT_EQ(order.size(), 2u);
    const std::vector<std::tuple<std::string, bool, bool, bool>> cases = {
        {"Loud", order[0] == "Loud", order[1] == "Loud", false},
        {"", false, false, true},
        {"loud", false, false, false}};  // byte-exact, with case
    for (const auto& [scheme, first, second, off] : cases) {
        QMenu menu;
        EXPECT_EQ(rw::SoundMenu::populate(menu, sounds.string(), scheme), order);
        std::vector<std::string> items;
        for (const QAction* action : menu.actions())
            items.push_back(action->isSeparator()
                                ? "-"
                                : (action->text() + " " + action->data().toString() +
                                   (action->isChecked() ? "*" : ""))
                                      .toStdString());
        const std::vector<std::string> expected = {order[0] + " 256" + (first ? "*" : ""),
                                                   order[1] + " 257" + (second ? "*" : ""), "-",
                                                   std::string("Off 0") + (off ? "*" : "")};
        EXPECT_EQ(items, expected) << "scheme '" << scheme << "'";
    }
    rw::setSoundScheme("Loud");
    prompts_.menuAnswer = [](QMenu&) -> QAction* { return nullptr; };  // Escape
    EXPECT_TRUE(rw::SoundMenu::choose(nullptr));
    EXPECT_EQ(rw::soundScheme(), "");
}

}  // namespace
}  // namespace rwtest
