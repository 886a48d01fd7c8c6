#pragma once

#include <memory>
#include <string>

#include "platform/StatusBar.h"

class QMenu;
class QObject;
class QSystemTrayIcon;

namespace kestrova::qt {

class QtMenuMirror;

// Draws one status item of the model: its menu is mirrored into a QMenu at once, and
// showInTray() puts it in the panel as a QSystemTrayIcon (which on Linux publishes a
// StatusNotifierItem and exports the menu over com.canonical.dbusmenu, for the panel to draw).
// The icon is the item's title painted, the tool tip "Kestrova". A plain click on the item,
// which panels that keep the menu for the other button report as an activation, opens a second
// mirror of the same menu drawn by Qt.
//
// Every change of the model is taken up once per turn of the event loop: many changes in a
// row (a whole refresh pass) give one sync. Main thread only.
class QtStatusItemRenderer {
public:
    explicit QtStatusItemRenderer(std::shared_ptr<StatusItem> item);
    ~QtStatusItemRenderer();
    QtStatusItemRenderer(const QtStatusItemRenderer&) = delete;
    QtStatusItemRenderer& operator=(const QtStatusItemRenderer&) = delete;

    void showInTray();
    bool isInTray() const { return tray_ != nullptr; }
    // The mirrored menu that the panel shows, kept in line with the model.
    QMenu& menu() { return *menu_; }
    // The menu that Qt draws on a plain click; nothing until the first one.
    QMenu* popupMenu() { return popupMenu_.get(); }
    const StatusItem& item() const { return *item_; }

private:
    void scheduleSync();
    void sync();
    void updateIcon();
    void popUp();

    std::shared_ptr<StatusItem> item_;
    std::unique_ptr<QObject> context_;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QtMenuMirror> mirror_;
    std::unique_ptr<QMenu> popupMenu_;
    std::unique_ptr<QtMenuMirror> popupMirror_;
    std::unique_ptr<QSystemTrayIcon> tray_;  // after menu_: it goes first
    std::string paintedTitle_;
    bool syncPending_ = false;
};

}  // namespace kestrova::qt
