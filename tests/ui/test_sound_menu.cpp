// The sound-scheme menu over a test Sounds folder, answered through the menu
// runner instead of a real click.
#include <QAction>
#include <QCursor>
#include <QMenu>
#include <filesystem>

#include "WindowTestSupport.h"
#include "ui/SoundMenu.h"

namespace fs = std::filesystem;

namespace {

// Each item as "text id" with a "*" when checked; a separator reads "-".
std::vector<std::string> itemsOf(const QMenu& menu) {
    std::vector<std::string> items;
    for (const QAction* action : menu.actions()) {
        items.push_back(action->isSeparator() ? "-"
                                              : (action->text() + " " + action->data().toString() +
                                                 (action->isChecked() ? "*" : ""))
                                                    .toStdString());
    }
    return items;
}

class SoundMenuTest : public wintest::WindowTest {
protected:
    fs::path sounds() const { return data_.path() / "Sounds"; }
    // Makes the scheme folders; returns them in the order the file system lists
    // them, which the menu must keep.
    std::vector<std::string> makeSchemes(const std::vector<std::string>& names) {
        fs::create_directories(sounds());
        for (const std::string& name : names) fs::create_directories(sounds() / name);
        std::vector<std::string> listed;
        for (const auto& entry : fs::directory_iterator(sounds()))
            if (entry.is_directory() && entry.path().filename().string()[0] != '.')
                listed.push_back(entry.path().filename().string());
        return listed;
    }
    // Answers the next menu with the item of this id (-1: Escape).
    void answer(int id) {
        prompts_.menuAnswer = [this, id](QMenu& menu) -> QAction* {
            shownItems = itemsOf(menu);
            menuWidth = menu.sizeHint().width();
            for (QAction* action : menu.actions())
                if (!action->isSeparator() && action->data().toInt() == id) return action;
            return nullptr;
        };
    }
    std::vector<std::string> shownItems;
    int menuWidth = 0;
};

TEST_F(SoundMenuTest, ItemsIdsAndChecksFollowTheFolderOrderAndScheme) {
    const auto order = makeSchemes({"Quiet", "Loud", ".hidden"});
    rwtest::writeFile(sounds() / "readme.txt", "not a scheme");
    ASSERT_EQ(order.size(), 2u);
    // scheme, then which of the two listed folders and Off are checked
    const std::vector<std::tuple<std::string, bool, bool, bool>> cases = {
        {"Loud", order[0] == "Loud", order[1] == "Loud", false},
        {"", false, false, true},
        {"Missing", false, false, false},
        {"loud", false, false, false},  // byte-exact, with case
    };
    for (const auto& [scheme, first, second, off] : cases) {
        QMenu menu;
        EXPECT_EQ(SoundMenu::populate(menu, sounds().string(), scheme), order);
        const std::vector<std::string> expected = {order[0] + " 256" + (first ? "*" : ""),
                                                   order[1] + " 257" + (second ? "*" : ""), "-",
                                                   std::string("Off 0") + (off ? "*" : "")};
        EXPECT_EQ(itemsOf(menu), expected) << "scheme '" << scheme << "'";
    }
}

TEST_F(SoundMenuTest, TheChoiceBecomesTheScheme) {
    const auto order = makeSchemes({"Quiet", "Rock & Roll"});  // the & must survive
    const std::vector<std::pair<int, std::string>> cases = {
        {257, order[1]}, {256, order[0]}, {0, ""}, {-1, ""}};  // -1: Escape
    for (const auto& [id, expected] : cases) {
        rw::setSoundScheme("Loud");
        answer(id);
        const QPoint cursor = QCursor::pos();
        EXPECT_TRUE(SoundMenu::choose(nullptr)) << id;
        EXPECT_EQ(rw::soundScheme(), expected) << id;
        // The menu opens with its right edge at the cursor.
        EXPECT_EQ(prompts_.menuAt, QPoint(cursor.x() - menuWidth, cursor.y()));
    }
}

TEST_F(SoundMenuTest, EmptyFolderOffersOnlyOffAndNoFolderShowsNothing) {
    rw::setSoundScheme("Loud");
    answer(256);
    EXPECT_FALSE(SoundMenu::choose(nullptr));
    EXPECT_EQ(prompts_.menus, 0);
    EXPECT_EQ(rw::soundScheme(), "Loud");
    makeSchemes({});
    answer(-1);
    EXPECT_TRUE(SoundMenu::choose(nullptr));
    EXPECT_EQ(shownItems, (std::vector<std::string>{"-", "Off 0"}));
}

}  // namespace
