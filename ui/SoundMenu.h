#pragma once
#include <string>
#include <vector>

class QMenu;
class QWidget;

namespace rw {

// The sound-scheme menu: one item per sub-folder of the data folder's `Sounds`
// (in the order the file system lists them, ids from 256), a separator and
// "Off" (id 0). The chosen item becomes the sound scheme; "Off", Escape and a
// click outside the menu all turn sounds off.
class SoundMenu {
  public:
    // Id of the first scheme item; "Off" is 0.
    static constexpr int kFirstSchemeId = 256;

    // Fills menu from soundsFolder and returns the scheme names in item order
    // (item id = kFirstSchemeId + index); empty with no items when the folder
    // cannot be listed. Each action's data() holds its id; check marks follow
    // scheme (byte-exact).
    static std::vector<std::string> populate(QMenu& menu, const std::string& soundsFolder,
                                             const std::string& scheme);
    // The whole choice: no `Sounds` folder -> returns false, shows nothing and
    // keeps the scheme. Otherwise shows the menu at the cursor, its right edge
    // at the cursor's x, owned by owner, sets the scheme from the choice and
    // returns true. The menu is shown through userPrompts() (tests answer it there).
    static bool choose(QWidget* owner);

    // Lists dir's sub-folders not starting with '.', in the file system's order.
    // Returns false when dir cannot be listed.
    static bool listSchemes(const std::string& dir, std::vector<std::string>& names);
};

}  // namespace rw
