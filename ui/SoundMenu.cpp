#include "ui/SoundMenu.h"

#include <dirent.h>
#include <sys/stat.h>
#include <QAction>
#include <QCursor>
#include <QFile>
#include <QMenu>
#include <memory>

#include "engine/Sounds.h"
#include "ui/UserPrompts.h"

namespace rw {

namespace {

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// '&' would otherwise mark a mnemonic and vanish from the item's text.
QString menuText(const std::string& name) {
    return QFile::decodeName(QByteArray::fromStdString(name)).replace(u'&', QStringLiteral("&&"));
}

QAction* addItem(QMenu& menu, const QString& text, int id, bool checked) {
    QAction* action = menu.addAction(text);
    action->setData(id);
    action->setCheckable(true);
    action->setChecked(checked);
    return action;
}

}  // namespace

bool SoundMenu::listSchemes(const std::string& dir, std::vector<std::string>& names) {
    std::unique_ptr<DIR, int (*)(DIR*)> stream(::opendir(dir.c_str()), ::closedir);
    if (!stream) return false;
    while (const dirent* entry = ::readdir(stream.get())) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.') continue;
        if (isDirectory(dir + "/" + name)) names.push_back(name);
    }
    return true;
}

std::vector<std::string> SoundMenu::populate(QMenu& menu, const std::string& soundsFolder,
                                             const std::string& scheme) {
    std::vector<std::string> names;
    if (!listSchemes(soundsFolder, names)) return names;
    int id = kFirstSchemeId;
    for (const std::string& name : names) addItem(menu, menuText(name), id++, name == scheme);
    menu.addSeparator();
    addItem(menu, QStringLiteral("Off"), 0, scheme.empty());
    return names;
}

bool SoundMenu::choose(QWidget* owner) {
    const std::string soundsFolder = dataFolder() + "Sounds";
    if (!isDirectory(soundsFolder)) return false;

    QMenu menu(owner);
    const std::vector<std::string> names = populate(menu, soundsFolder, soundScheme());
    if (menu.actions().isEmpty()) return false;  // the folder could not be listed
    const QPoint cursor = QCursor::pos();
    const QPoint topLeft(cursor.x() - menu.sizeHint().width(), cursor.y());
    QAction* chosen = userPrompts().popupMenu(menu, topLeft);

    const int id = chosen != nullptr ? chosen->data().toInt() : 0;
    const int index = id - kFirstSchemeId;
    if (id != 0 && index >= 0 && index < int(names.size())) {
        setSoundScheme(names[size_t(index)]);
    } else {
        setSoundScheme(std::string());
    }
    return true;
}

}  // namespace rw
