#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/menu/Menu.h"
#include "platform/menu/MenuItem.h"

class QAction;
class QMenu;
class QString;

namespace kestrova::qt {

// Mirrors a menu of the model into a QMenu, one QAction per model item, and keeps it in line
// in place: sync() changes only what differs (a new percentage changes one action's text), adds
// actions for new items and removes those of items that left, so an open menu never flickers.
//
// Titles are shown as the model holds them: nothing in a title becomes a mnemonic. Qt reads "&"
// as one, so it is doubled. A menu exported over com.canonical.dbusmenu (Labels::DBusMenu) is
// drawn by the panel, which reads "_" as the mnemonic mark, so "_" is doubled there as well
// ("video_01.mp4" would otherwise show as "video01.mp4"). A model state of 1 is a checked check
// mark, disabled items follow the model's enabled rule, submenus get their own QMenu and mirror,
// and a key equivalent k is shown as Ctrl+k. Choosing an action runs its item's action on a
// later turn of the main loop (never inside the D-Bus call or the QAction signal that reported
// the choice), then calls afterChoice.
class QtMenuMirror {
public:
    enum class Labels { Qt, DBusMenu };

    QtMenuMirror(QMenu& target, Labels labels, std::function<void()> afterChoice);
    ~QtMenuMirror();
    QtMenuMirror(const QtMenuMirror&) = delete;
    QtMenuMirror& operator=(const QtMenuMirror&) = delete;

    void sync(const Menu& model);
    void clear();

private:
    struct Entry;
    Entry makeEntry(const std::shared_ptr<MenuItem>& item);
    void update(Entry& entry);
    void updateSubmenu(Entry& entry);
    void arrange();
    void discard(Entry& entry);

    QString labelFor(const std::string& title) const;

    QMenu& menu_;
    Labels labels_;
    std::function<void()> afterChoice_;
    std::vector<Entry> entries_;
};

}  // namespace kestrova::qt
