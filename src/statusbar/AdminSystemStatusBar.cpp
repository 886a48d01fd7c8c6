#include "statusbar/AdminSystemStatusBar.h"

#include <algorithm>

#include "messages/Notifications.h"
#include "platform/Alert.h"
#include "platform/Application.h"
#include "platform/LoginItems.h"
#include "platform/Pasteboard.h"
#include "platform/SystemLog.h"
#include "platform/Workspace.h"
#include "platform/net/PageFetch.h"
#include "platform/plist/Bundle.h"
#include "platform/runtime/NotificationCenter.h"
#include "platform/text/TextUtil.h"
#include "statusbar/DownloadProgressMenu.h"
#include "statusbar/PasteboardAddress.h"
#include "statusbar/ReleasePage.h"

namespace kestrova {
namespace {

constexpr const char* kStatusTitle = "\u2B07";  // ⬇
constexpr const char* kPasteboardTitle = "ペーストボードからダウンロード";
constexpr const char* kDeleteTitle = "ダウンロードが完了した項目を削除";
constexpr const char* kAutoDownloadTitle = "自動ダウンロードシステム";
constexpr const char* kSettingsTitle = "設定\u2026";  // ends in one horizontal ellipsis
constexpr const char* kQuitTitle = "Kestrovaを終了";
constexpr const char* kUseSystemTitle = "自動ダウンロードシステムを使用する";
constexpr const char* kListFailedTitle = "ダウンロードリストの取得に失敗しました。";

constexpr const char* kMenuFunctionDownload = "menuFunctionDownload";
constexpr const char* kDeleteCompletedItem = "deleteCompletedItem";

void setState(MenuItem& item, bool on) {
    const int state = on ? MenuItem::kOn : MenuItem::kOff;
    if (item.state() != state) item.setState(state);
}

// The record's "title" when it is a text; records without one cannot be shown or chosen.
const std::string* recordTitle(const PlistValue& record) {
    const PlistValue* title = record.find(key::kTitle);
    return title != nullptr ? title->asString() : nullptr;
}

}  // namespace

AdminSystemStatusBar::AdminSystemStatusBar(const PlatformServices& platform, bool debug)
    : platform_(platform), debug_(debug) {}

AdminSystemStatusBar::~AdminSystemStatusBar() {
    platform_.center.removeObserver(this);
    // A renderer may still hold the status item and its items: detach the menu and leave no
    // command that would call this object.
    if (sbItem_) sbItem_->setMenu(nullptr);
    if (sbMenu_) disarm(*sbMenu_);
}

void AdminSystemStatusBar::setupSystemStatusBarWithSaveLogFile(bool saveLogFile) {
    if (sbMenu_) return;  // set up once per object
    sbMenu_ = std::make_shared<Menu>("SystemStatusBarMenu");
    sbMenu_->addItem(std::make_shared<MenuItem>(kPasteboardTitle));
    platform_.center.addObserver(this, notification::kCheckPasteBoard,
                                 [this](const PlistValue& object) { menuViewDownload(object); });
    sbMenu_->addItem(MenuItem::separatorItem());
    sbMenu_->addItem(std::make_shared<MenuItem>(kDeleteTitle));

    adsMenu_ = std::make_shared<Menu>("SubMenuAutoDownloadSystem");
    auto autoDownload = std::make_shared<MenuItem>(kAutoDownloadTitle);
    autoDownload->setSubmenu(adsMenu_);
    sbMenu_->addItem(std::move(autoDownload));

    auto settings = std::make_shared<MenuItem>(kSettingsTitle);
    settings->setKeyEquivalent(",");
    settings->setSubmenu(makeSettingsMenu(saveLogFile));
    sbMenu_->addItem(std::move(settings));

    auto quit = std::make_shared<MenuItem>(kQuitTitle);
    quit->setKeyEquivalent("q");
    Application& application = platform_.application;
    quit->setTarget(&application);
    quit->setAction("terminate:", [&application](MenuItem&) { application.terminate(); });
    sbMenu_->addItem(std::move(quit));

    sbItem_ = platform_.statusBar.statusItemWithLength(StatusBar::kVariableLength);
    sbItem_->setTitle(kStatusTitle);
    sbItem_->setHighlightMode(true);
    sbItem_->setMenu(sbMenu_);
    numberOfMenuDefaultItems_ = static_cast<std::int64_t>(sbMenu_->numberOfItems());
}

std::shared_ptr<Menu> AdminSystemStatusBar::makeSettingsMenu(bool saveLogFile) {
    auto menu = std::make_shared<Menu>("SubMenuSettings");
    menu->addItem(makeItem("ログイン時に開く", "switchOpenAtLogin:",
                           &AdminSystemStatusBar::switchOpenAtLogin, isEnableLoginItem()));
    menu->addItem(makeItem("ログを保存する", "switchSaveLogFile:",
                           &AdminSystemStatusBar::switchSaveLogFile, saveLogFile));
    menu->addItem(makeItem("デバッグログを出力する", "switchSaveDebugLog:",
                           &AdminSystemStatusBar::switchSaveDebugLog, debug_));
    auto update = std::make_shared<MenuItem>("アップデートを確認\u2026");
    bindCommand(*update, true, "checkUpdateRelease", &AdminSystemStatusBar::checkUpdateRelease);
    menu->addItem(std::move(update));
    return menu;
}

std::shared_ptr<MenuItem> AdminSystemStatusBar::makeItem(const std::string& title,
                                                         const std::string& actionName,
                                                         ItemCommand command, bool on) {
    auto item = std::make_shared<MenuItem>(title);
    item->setState(on ? MenuItem::kOn : MenuItem::kOff);
    item->setTarget(this);
    item->setAction(actionName, [this, command](MenuItem& chosen) { (this->*command)(chosen); });
    return item;
}

void AdminSystemStatusBar::bindCommand(MenuItem& item, bool withReceiver,
                                       const std::string& actionName, Command command) {
    const void* receiver = withReceiver ? this : nullptr;
    if (item.target() != receiver) item.setTarget(receiver);
    if (item.actionName() != actionName) {
        item.setAction(actionName, [this, command](MenuItem&) { (this->*command)(); });
    }
}

void AdminSystemStatusBar::disarm(Menu& menu) {
    for (const auto& item : menu.items()) {
        if (item->target() == this) {
            item->setTarget(nullptr);
            item->clearAction();
        }
        if (item->submenu()) disarm(*item->submenu());
    }
}

// Download progress -----------------------------------------------------------------------------

void AdminSystemStatusBar::setDownloadStatus(const std::vector<PlistValue>& table) {
    if (!sbMenu_) return;
    DownloadProgressMenu progress(*sbMenu_, static_cast<std::size_t>(numberOfMenuDefaultItems_));
    const std::shared_ptr<MenuItem> deleteItem = sbMenu_->itemWithTitle(kDeleteTitle);
    if (table.empty()) {
        // The delete command goes back to disabled only here.
        if (deleteItem) {
            bindCommand(*deleteItem, false, kDeleteCompletedItem,
                        &AdminSystemStatusBar::deleteCompletedItem);
        }
        progress.clear();
        return;
    }
    progress.update(table);
    if (deleteItem && DownloadProgressMenu::hasCompleteRecord(table)) {
        bindCommand(*deleteItem, true, kDeleteCompletedItem,
                    &AdminSystemStatusBar::deleteCompletedItem);
    }
}

void AdminSystemStatusBar::deleteCompletedItem() {
    platform_.center.post(notification::kDeleteCompletedItem);
}

// Pasteboard command ----------------------------------------------------------------------------

void AdminSystemStatusBar::menuViewDownload(const PlistValue& object) {
    if (!sbMenu_) return;
    const std::shared_ptr<MenuItem> item = sbMenu_->itemWithTitle(kPasteboardTitle);
    if (!item) return;
    const std::string* answer = object.asString();
    if (answer != nullptr && *answer == "YES") {
        bindCommand(*item, true, kMenuFunctionDownload,
                    &AdminSystemStatusBar::menuFunctionDownload);
        return;
    }
    if (item->target() != nullptr) item->setTarget(nullptr);
    if (!item->actionName().empty()) item->clearAction();
}

void AdminSystemStatusBar::menuFunctionDownload() {
    // What counts is the pasteboard at the moment of the choice, not at the last poll.
    const std::optional<std::string> text = platform_.pasteboard.string();
    if (text && PasteboardAddress::isDownloadable(*text)) {
        platform_.center.post(notification::kDownloadRequest,
                              PlistValue::dictionary({{key::kURL, PlistValue::string(*text)}}));
        return;
    }
    platform_.alerts.runModal(Alert::withDefaultAlternateOther(
        "Kestrova", "OK", "", "", "ペーストボードにダウンロード可能なURLが見つかりません。"));
}

// Settings switches -----------------------------------------------------------------------------

// Posts the new setting, the opposite of the check mark, then flips the mark.
void AdminSystemStatusBar::postSwitch(MenuItem& item, const char* notificationName) {
    const bool on = item.state() != MenuItem::kOn;
    platform_.center.post(notificationName, PlistValue::boolean(on));
    setState(item, on);
}

void AdminSystemStatusBar::switchSaveLogFile(MenuItem& item) {
    postSwitch(item, notification::kUpdateSaveLogFile);
}

void AdminSystemStatusBar::switchSaveDebugLog(MenuItem& item) {
    postSwitch(item, notification::kUpdateSaveDebugLog);
    // debug_ stays as it was: this object's logging follows the setting after a restart.
    platform_.alerts.runModal(
        Alert::withButtonList("Kestrova", "この設定は Kestrova の再起動後に有効になります。",
                              {"OK"}, Alert::Style::Warning));
}

// Auto-download submenu -------------------------------------------------------------------------

void AdminSystemStatusBar::updateAutoDownloadSystemMenu(
    bool useAutoDownloadSystem, const std::optional<PlistValue>& downloadList,
    const std::optional<PlistValue>& /*episodeList*/) {
    if (debug_) platform_.log.log("AdminSystemStatusBar -> Update AutoDownloadMenu.");
    // Anything but a list is shown as a list that could not be read.
    dlst_ = downloadList && downloadList->isArray() ? downloadList : std::nullopt;
    if (!adsMenu_) return;
    adsMenu_->removeAllItems();
    adsMenu_->addItem(makeItem(kUseSystemTitle, "enableAutoDownloadSystem:",
                               &AdminSystemStatusBar::enableAutoDownloadSystem,
                               useAutoDownloadSystem));
    adsMenu_->addItem(MenuItem::separatorItem());
    if (!dlst_) {
        adsMenu_->addItem(std::make_shared<MenuItem>(kListFailedTitle));
        return;
    }
    for (const auto& record : *dlst_->asArray()) {
        const std::string* title = recordTitle(record);
        if (title == nullptr) {
            platform_.log.log("AdminSystemStatusBar -> Skipped Anime Record: no title.");
            continue;
        }
        const PlistValue* status = record.find(key::kStatus);
        adsMenu_->addItem(makeItem(
            *title, "switchAnimeAutoDownload:", &AdminSystemStatusBar::switchAnimeAutoDownload,
            status != nullptr && status->isTrue()));
    }
}

void AdminSystemStatusBar::enableAutoDownloadSystem(MenuItem& item) {
    postSwitch(item, notification::kUpdateUseAutoDownloadSystem);
}

void AdminSystemStatusBar::switchAnimeAutoDownload(MenuItem& item) {
    if (!dlst_) return;
    PlistValue list = *dlst_;
    PlistValue::Array& records = *list.asArray();
    const auto record = std::find_if(records.begin(), records.end(), [&](const PlistValue& r) {
        const std::string* title = recordTitle(r);
        return title != nullptr && *title == item.title();
    });
    if (record == records.end()) {
        platform_.center.post(notification::kUpdateDlst, list);
        return;
    }
    // The lock is tested first: a locked title can be switched neither off nor on.
    if (const PlistValue* lock = record->find(key::kLock); lock != nullptr && lock->isTrue()) {
        platform_.alerts.runModal(Alert::withButtonList(
            "Kestrova エラー", "このアニメのダウンロードを無効化することはできません。", {"OK"},
            Alert::Style::Warning));
        return;
    }
    const bool on = item.state() != MenuItem::kOn;
    record->asDictionary()->insert_or_assign(key::kStatus, PlistValue::boolean(on));
    setState(item, on);
    // The receiver rebuilds this submenu before the post returns: item is gone afterwards.
    platform_.center.post(notification::kUpdateDlst, list);
}

// Open at login ---------------------------------------------------------------------------------

bool AdminSystemStatusBar::belongsToKestrova(
    const std::optional<std::filesystem::path>& path) const {
    const std::string own = platform_.bundle.bundlePath().string();
    // An empty own path would claim every entry.
    return path && !own.empty() && TextUtil::startsWith(path->string(), own);
}

bool AdminSystemStatusBar::isEnableLoginItem() {
    for (const auto& entry : platform_.loginItems.snapshot()) {
        if (belongsToKestrova(entry.resolvedPath)) return true;
    }
    return false;
}

void AdminSystemStatusBar::enableLoginItem() {
    platform_.loginItems.insertLast(platform_.bundle.bundlePath());
}

void AdminSystemStatusBar::disableLoginItem() {
    for (const auto& entry : platform_.loginItems.snapshot()) {
        if (belongsToKestrova(entry.resolvedPath)) {
            platform_.loginItems.remove(entry);
            return;
        }
    }
}

// The check mark changes only when the list confirms the change.
void AdminSystemStatusBar::switchOpenAtLogin(MenuItem& item) {
    if (isEnableLoginItem()) {
        disableLoginItem();
        if (!isEnableLoginItem()) setState(item, false);
    } else {
        enableLoginItem();
        if (isEnableLoginItem()) setState(item, true);
    }
}

// Update check ----------------------------------------------------------------------------------

void AdminSystemStatusBar::checkUpdateRelease() {
    const std::string running = platform_.bundle.shortVersionString();
    const std::string address = ReleasePage::address(platform_.config.serverURL);
    // Blocks the main thread until the page arrived or the fetch gave up (bounded by PageFetch).
    const std::optional<std::string> page = PageFetch::fetchText(address, platform_.shutdown);
    const std::optional<std::string> version = page ? ReleasePage::version(*page) : std::nullopt;
    AlertService& alerts = platform_.alerts;
    if (!version) {
        // Neither a page nor a version in it: say so rather than announce a version "()".
        alerts.runModal(Alert::withDefaultAlternateOther("Kestrova", "OK", "", "",
                                                         "アップデートの確認に失敗しました。"));
        return;
    }
    if (*version == running) {
        alerts.runModal(Alert::withDefaultAlternateOther(
            "Kestrova", "OK", "", "",
            "このバージョンの Kestrova (v" + running + ") は最新バージョンです。"));
        return;
    }
    const int answer = alerts.runModal(Alert::withDefaultAlternateOther(
        "Kestrova", "はい", "いいえ", "",
        "最新のバージョンの Kestrova (v" + *version +
            ") が見つかりました。\nダウンロードページを開きますか？"));
    if (answer == Alert::kDefaultReturn) platform_.workspace.openURL(address);
}

}  // namespace kestrova
