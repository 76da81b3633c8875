// The sound-scheme menu over a test Sounds folder, answered through the menu
// runner instead of a real click.
#include <gtest/gtest.h>

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/Sounds.h"
#include "fakes/TestEnv.h"
#include "ui/SoundMenu.h"
#include "ui/UserPrompts.h"

namespace fs = std::filesystem;

namespace {

struct Item {
    std::string text;
    int id;
    bool checked;
    bool operator==(const Item&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Item& item) {
    return os << "{" << item.text << ", " << item.id << ", " << item.checked << "}";
}

// A separator reads as {"-", -1, false}.
std::vector<Item> itemsOf(const QMenu& menu) {
    std::vector<Item> items;
    for (const QAction* action : menu.actions()) {
        if (action->isSeparator()) {
            items.push_back({"-", -1, false});
        } else {
            items.push_back(
                {action->text().toStdString(), action->data().toInt(), action->isChecked()});
        }
    }
    return items;
}

// Answers the popup menu with a test's function instead of a click.
class MenuPrompts : public UserPrompts {
  public:
    std::function<QAction*(QMenu&, const QPoint&)> answer;
    QAction* popupMenu(QMenu& menu, const QPoint& at) override {
        return answer ? answer(menu, at) : nullptr;
    }
};

class SoundMenuTest : public ::testing::Test {
  protected:
    void SetUp() override {
        savedFolder_ = rw::dataFolder();
        savedScheme_ = rw::soundScheme();
        rw::setDataFolder(data_.str());
        setUserPrompts(&prompts_);
    }
    void TearDown() override {
        setUserPrompts(nullptr);
        rw::setDataFolder(savedFolder_);
        rw::setSoundScheme(savedScheme_);
    }
    fs::path sounds() const { return data_.path() / "Sounds"; }
    void makeSchemes(const std::vector<std::string>& names) {
        for (const std::string& name : names) fs::create_directories(sounds() / name);
    }
    // The folder names as the file system lists them: the order the menu must keep.
    std::vector<std::string> listed() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(sounds())) {
            const std::string name = entry.path().filename().string();
            if (entry.is_directory() && name[0] != '.') names.push_back(name);
        }
        return names;
    }
    // Answers the next menu by picking the item with id (or nothing, for -1).
    void answer(int id) {
        prompts_.answer = [this, id](QMenu& menu, const QPoint& topLeft) -> QAction* {
            ++shown;
            shownItems = itemsOf(menu);
            shownAt = topLeft;
            menuWidth = menu.sizeHint().width();
            for (QAction* action : menu.actions()) {
                if (!action->isSeparator() && action->data().toInt() == id) return action;
            }
            return nullptr;
        };
    }

    MenuPrompts prompts_;
    rwtest::TempDir data_;
    std::string savedFolder_, savedScheme_;
    int shown = 0;
    std::vector<Item> shownItems;
    QPoint shownAt;
    int menuWidth = 0;
};

TEST_F(SoundMenuTest, ItemsIdsAndChecksFollowTheFolderOrderAndScheme) {
    makeSchemes({"Quiet", "Loud"});
    const std::vector<std::string> order = listed();
    ASSERT_EQ(order.size(), 2u);
    struct Case {
        std::string scheme;
        std::vector<bool> checks;  // per listed folder
        bool offChecked;
    };
    const std::vector<Case> cases = {
        {"Loud", {order[0] == "Loud", order[1] == "Loud"}, false},
        {"", {false, false}, true},
        {"Missing", {false, false}, false},
        {"loud", {false, false}, false},  // byte-exact, with case
    };
    for (const Case& c : cases) {
        QMenu menu;
        const auto names = SoundMenu::populate(menu, sounds().string(), c.scheme);
        EXPECT_EQ(names, order);
        const std::vector<Item> expected = {{order[0], 256, c.checks[0]},
                                            {order[1], 257, c.checks[1]},
                                            {"-", -1, false},
                                            {"Off", 0, c.offChecked}};
        EXPECT_EQ(itemsOf(menu), expected) << "scheme '" << c.scheme << "'";
    }
}

TEST_F(SoundMenuTest, DotFoldersAndPlainFilesAreLeftOut) {
    makeSchemes({".hidden", "Chimes"});
    rwtest::writeFile(sounds() / "readme.txt", "not a scheme");
    rwtest::writeFile(sounds() / "start.wav", "RIFF");
    QMenu menu;
    SoundMenu::populate(menu, sounds().string(), "Chimes");
    const std::vector<Item> expected = {{"Chimes", 256, true}, {"-", -1, false}, {"Off", 0, false}};
    EXPECT_EQ(itemsOf(menu), expected);
}

TEST_F(SoundMenuTest, EmptySoundsFolderOffersOnlyOff) {
    fs::create_directories(sounds());
    rw::setSoundScheme("Gone");
    answer(-1);
    EXPECT_TRUE(SoundMenu::choose(nullptr));
    const std::vector<Item> expected = {{"-", -1, false}, {"Off", 0, false}};
    EXPECT_EQ(shownItems, expected);
}

TEST_F(SoundMenuTest, NoSoundsFolderShowsNothingAndKeepsTheScheme) {
    rw::setSoundScheme("Loud");
    answer(256);
    EXPECT_FALSE(SoundMenu::choose(nullptr));
    EXPECT_EQ(shown, 0);
    EXPECT_EQ(rw::soundScheme(), "Loud");
}

TEST_F(SoundMenuTest, TheChoiceBecomesTheScheme) {
    makeSchemes({"Quiet", "Loud"});
    const std::vector<std::string> order = listed();
    struct Case {
        const char* name;
        int answer;  // id, or -1 for Escape / a click outside
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"second", 257, order[1]}, {"first", 256, order[0]}, {"Off", 0, ""}, {"Escape", -1, ""}};
    for (const Case& c : cases) {
        rw::setSoundScheme("Loud");
        answer(c.answer);
        EXPECT_TRUE(SoundMenu::choose(nullptr)) << c.name;
        EXPECT_EQ(rw::soundScheme(), c.expected) << c.name;
    }
}

TEST_F(SoundMenuTest, NamesWithAmpersandsRoundTrip) {
    makeSchemes({"Rock & Roll"});
    rw::setSoundScheme("");
    answer(256);
    EXPECT_TRUE(SoundMenu::choose(nullptr));
    EXPECT_EQ(rw::soundScheme(), "Rock & Roll");
}

TEST_F(SoundMenuTest, MenuOpensWithItsRightEdgeAtTheCursor) {
    makeSchemes({"Quiet"});
    answer(-1);
    const QPoint cursor = QCursor::pos();
    EXPECT_TRUE(SoundMenu::choose(nullptr));
    EXPECT_EQ(shownAt, QPoint(cursor.x() - menuWidth, cursor.y()));
}

}  // namespace
