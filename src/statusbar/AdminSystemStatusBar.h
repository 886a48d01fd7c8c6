#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/PlatformServices.h"
#include "platform/StatusBar.h"
#include "platform/menu/Menu.h"
#include "platform/menu/MenuItem.h"
#include "platform/plist/PlistValue.h"

namespace kestrova {

// The status item "⬇" and its menu: the pasteboard command, the download items, the
// auto-download and settings submenus and the quit command. Receives the download status table
// every second and the lists when they change; everything it reports goes out as notifications.
//
// Use: construct, call setupSystemStatusBarWithSaveLogFile() once, then
// updateAutoDownloadSystemMenu(); the menu commands are the item actions, which a renderer runs
// with MenuItem::perform(). Main thread only.
class AdminSystemStatusBar {
public:
    AdminSystemStatusBar(const PlatformServices& platform, bool debug);
    ~AdminSystemStatusBar();
    AdminSystemStatusBar(const AdminSystemStatusBar&) = delete;
    AdminSystemStatusBar& operator=(const AdminSystemStatusBar&) = delete;

    void setupSystemStatusBarWithSaveLogFile(bool saveLogFile);
    // table: download status records in the coordinator's order (an immutable snapshot).
    void setDownloadStatus(const std::vector<PlistValue>& table);
    // downloadList: an array of anime records, or nothing when it could not be read.
    // episodeList is accepted for the caller's symmetry and not shown.
    void updateAutoDownloadSystemMenu(bool useAutoDownloadSystem,
                                      const std::optional<PlistValue>& downloadList,
                                      const std::optional<PlistValue>& episodeList);

    // Pasteboard command: "checkPasteBoard" arrives here; choosing the command downloads.
    void menuViewDownload(const PlistValue& object);
    void menuFunctionDownload();

    void deleteCompletedItem();
    void switchSaveLogFile(MenuItem& item);
    void switchSaveDebugLog(MenuItem& item);

    void enableAutoDownloadSystem(MenuItem& item);
    void switchAnimeAutoDownload(MenuItem& item);

    // Open at login: the session's login items are the only record.
    void switchOpenAtLogin(MenuItem& item);
    bool isEnableLoginItem();
    void enableLoginItem();
    void disableLoginItem();

    void checkUpdateRelease();

private:
    using Command = void (AdminSystemStatusBar::*)();
    using ItemCommand = void (AdminSystemStatusBar::*)(MenuItem&);

    std::shared_ptr<MenuItem> makeItem(const std::string& title, const std::string& actionName,
                                       ItemCommand command, bool on);
    std::shared_ptr<Menu> makeSettingsMenu(bool saveLogFile);
    // Gives item this object's action; with a receiver it is enabled, without one disabled.
    // Only what differs is changed, so a refresh that changes nothing tells no renderer.
    void bindCommand(MenuItem& item, bool withReceiver, const std::string& actionName,
                     Command command);
    void postSwitch(MenuItem& item, const char* notificationName);
    bool belongsToKestrova(const std::optional<std::filesystem::path>& path) const;
    // Clears every receiver that is this object, below menu, so nothing calls a dead object.
    void disarm(Menu& menu);

    const PlatformServices& platform_;
    std::shared_ptr<StatusItem> sbItem_;
    std::shared_ptr<Menu> sbMenu_;
    std::shared_ptr<Menu> adsMenu_;
    std::int64_t numberOfMenuDefaultItems_ = 0;
    std::optional<PlistValue> dlst_;
    const bool debug_;
};

}  // namespace kestrova
