#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/menu/MenuChangeSignal.h"

namespace kestrova {

class Menu;

// One menu item of the model: title, tag, state (0 off, 1 on: a check mark), key equivalent,
// receiver and action, optional submenu. A separator has no title, receiver or action.
//
// Enabled rule: an item is enabled when it has a submenu, or both a receiver and an action.
// Clearing the receiver disables a command while keeping its action.
class MenuItem {
public:
    using Action = std::function<void(MenuItem&)>;
    static constexpr int kOff = 0;
    static constexpr int kOn = 1;

    explicit MenuItem(std::string title = {});
    static std::shared_ptr<MenuItem> separatorItem();

    const std::string& title() const { return title_; }
    void setTitle(std::string title);
    std::int64_t tag() const { return tag_; }
    void setTag(std::int64_t tag);
    int state() const { return state_; }
    void setState(int state);
    const std::string& keyEquivalent() const { return keyEquivalent_; }
    void setKeyEquivalent(std::string key);
    const void* target() const { return target_; }
    void setTarget(const void* target);
    const std::string& actionName() const { return actionName_; }
    // name identifies the action (for comparisons and logs); run is what choosing calls.
    void setAction(std::string name, Action run);
    void clearAction();
    const std::shared_ptr<Menu>& submenu() const { return submenu_; }
    void setSubmenu(std::shared_ptr<Menu> submenu);
    bool isSeparator() const { return separator_; }
    bool isEnabled() const;

    // What choosing the item does: runs the action with the item when enabled; answers
    // whether it ran.
    bool perform();

    // Connects the item (and its submenu) to the model's change signal.
    void attach(const std::shared_ptr<MenuChangeSignal>& signal);

private:
    void changed() const;

    std::string title_;
    std::int64_t tag_ = 0;
    int state_ = kOff;
    std::string keyEquivalent_;
    const void* target_ = nullptr;
    std::string actionName_;
    Action action_;
    std::shared_ptr<Menu> submenu_;
    bool separator_ = false;
    std::shared_ptr<MenuChangeSignal> signal_;
};

}  // namespace kestrova
