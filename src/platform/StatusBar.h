#pragma once

#include <memory>
#include <string>

#include "platform/menu/Menu.h"
#include "platform/menu/MenuChangeSignal.h"

namespace kestrova {

// The one item Kestrova shows in the panel: a title (the glyph) and the menu it opens.
class StatusItem {
public:
    StatusItem();
    const std::string& title() const { return title_; }
    void setTitle(std::string title);
    bool highlightMode() const { return highlightMode_; }
    void setHighlightMode(bool on);
    const std::shared_ptr<Menu>& menu() const { return menu_; }
    void setMenu(std::shared_ptr<Menu> menu);

    // Told after every change of the item or of any menu or menu item below it.
    const std::shared_ptr<MenuChangeSignal>& changeSignal() const { return signal_; }

private:
    std::string title_;
    bool highlightMode_ = false;
    std::shared_ptr<Menu> menu_;
    std::shared_ptr<MenuChangeSignal> signal_;
};

// The panel that holds status items. The desktop backend draws them; the headless one keeps
// the model only.
class StatusBar {
public:
    static constexpr double kVariableLength = -1;
    virtual ~StatusBar() = default;
    virtual std::shared_ptr<StatusItem> statusItemWithLength(double length) = 0;
};

}  // namespace kestrova
