#include "app/AppDelegate.h"

#include <algorithm>
#include <chrono>
#include <set>

#include "app/Notifications.h"
#include "autodownload/AutoDownloadSystem.h"
#include "download/EpisodeClaims.h"
#include "download/FileDownload.h"
#include "download/FileDownload_Auto.h"
#include "platform/Alert.h"
#include "platform/Bundle.h"
#include "platform/Cancellation.h"
#include "platform/Files.h"
#include "platform/HttpUrl.h"
#include "platform/NotificationCenter.h"
#include "platform/OperationQueue.h"
#include "platform/SystemLog.h"
#include "platform/TextUtil.h"
#include "platform/UserDefaults.h"
#include "statusbar/AdminSystemStatusBar.h"
#include "statusbar/ObservePasteBoard.h"

namespace kestrova {
namespace {

constexpr std::size_t kMaxConcurrentDownloads = 100;
constexpr std::chrono::milliseconds kStatusInterval{1000};
constexpr std::chrono::milliseconds kScanInterval{1800 * 1000};

// A settings notification's object as a boolean: a boolean, or a number (non-zero is true).
std::optional<bool> boolValue(const PlistValue& object) {
    if (auto b = object.asBoolean()) return *b;
    if (auto i = object.asInteger()) return *i != 0;
    return std::nullopt;
}

}  // namespace

AppDelegate::AppDelegate(const PlatformServices& platform)
    : platform_(platform), activityLog_(platform.files.applicationDirectory()) {}

AppDelegate::~AppDelegate() {
    // Normally done at quit; repeated here so that a delegate that never quit leaves no observer
    // and no scan behind.
    platform_.center.removeObserver(this);
    platform_.shutdown.cancel();
    scanThread_.wait();
}

void AppDelegate::applicationDidFinishLaunching() {
    activityLog_.prepareAndRedirect(platform_.log);
    platform_.log.log("Application Launched.");
    platform_.defaults.load();
    removeUnfinishedDownloads();

    const PlistValue shippedList =
        platform_.bundle.plistResource("dlst").value_or(PlistValue::array());
    const PlistValue shippedEpisodes =
        platform_.bundle.plistResource("eplst").value_or(PlistValue::dictionary());
    loadSettings(shippedList, shippedEpisodes);
    pruneEpisodeList(shippedEpisodes);

    autoDownloadSystem_ = std::make_unique<AutoDownloadSystem>(platform_, saveDebugLog_);
    autoDownloadSystem_->setIsEnable(useAutoDownloadSystem_);

    adminSystemStatusBar_ = std::make_unique<AdminSystemStatusBar>(platform_, saveDebugLog_);
    adminSystemStatusBar_->setupSystemStatusBarWithSaveLogFile(saveLogFile_);
    adminSystemStatusBar_->updateAutoDownloadSystemMenu(useAutoDownloadSystem_, downloadList(),
                                                        episodeList());

    statusTimer_ = platform_.runLoop.addTimer(kStatusInterval, RunLoopMode::Common,
                                              [this] { updateSystemStatusBarMenu(); });

    observePasteBoard_ = std::make_unique<ObservePasteBoard>(platform_);
    observePasteBoard_->beginObservingPasteboard();

    queue_ = std::make_unique<OperationQueue>();
    queue_->setMaxConcurrentOperationCount(kMaxConcurrentDownloads);
    episodeClaims_ = std::make_shared<EpisodeClaims>();
    downloadId_ = 0;

    registerObservers();
    scanTimer_ = platform_.runLoop.addTimer(kScanInterval, RunLoopMode::Default,
                                            [this] { startAutoDownloadSystem(); });
    startAutoDownloadSystem();
}

void AppDelegate::loadSettings(const PlistValue& shippedList, const PlistValue& shippedEpisodes) {
    UserDefaults& defaults = platform_.defaults;
    defaults.registerDefaults({
        {defaultsKey::kSaveLogFile, PlistValue::boolean(true)},
        {defaultsKey::kSaveDebugLog, PlistValue::boolean(false)},
        {defaultsKey::kUseAutoDownloadSystem, PlistValue::boolean(false)},
        {defaultsKey::kAutoDownloadList, shippedList},
        {defaultsKey::kDownloadedEpisodeList, shippedEpisodes},
    });
    saveLogFile_ = defaults.boolForKey(defaultsKey::kSaveLogFile);
    saveDebugLog_ = defaults.boolForKey(defaultsKey::kSaveDebugLog);
    useAutoDownloadSystem_ = defaults.boolForKey(defaultsKey::kUseAutoDownloadSystem);

    std::lock_guard lock(listsMutex_);
    setDownloadListLocked(defaults.arrayForKey(defaultsKey::kAutoDownloadList));
    eplst_ = defaults.dictionaryForKey(defaultsKey::kDownloadedEpisodeList);
    if (!dlst_) platform_.log.log("AppDelegate -> Stored autoDownloadList is not a list.");
    if (!eplst_) platform_.log.log("AppDelegate -> Stored downloadedEpisodeList is not a record.");
}

// A ".download" file at launch is a download of an earlier run that never finished: no other
// Kestrova can be writing it now (the single-instance lock), and it would stay for good.
void AppDelegate::removeUnfinishedDownloads() {
    for (const std::string& name :
         Files::removeFilesEndingWith(platform_.files.applicationDirectory(), ".download")) {
        platform_.log.log("AppDelegate -> Removed Unfinished Download: " + TextUtil::forLog(name));
    }
}

// With listsMutex_ held: the list and the index of its titles.
void AppDelegate::setDownloadListLocked(std::optional<PlistValue> list) {
    dlst_ = std::move(list);
    titleIndex_.clear();
    if (!dlst_) return;
    const PlistValue::Array& records = *dlst_->asArray();
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (const PlistValue* title = records[i].find(key::kTitle); title && title->isString()) {
            titleIndex_.emplace(*title->asString(), i);
        }
    }
}

// Drops episode flags of titles that are no longer followed.
void AppDelegate::pruneEpisodeList(const PlistValue& shippedEpisodes) {
    std::lock_guard lock(listsMutex_);
    if (eplst_ && *eplst_ == shippedEpisodes) return;

    std::set<std::string> titles;
    if (dlst_) {
        for (const auto& record : *dlst_->asArray()) {
            if (const PlistValue* title = record.find(key::kTitle); title && title->isString()) {
                titles.insert(*title->asString());
            }
        }
    }
    PlistValue::Dictionary kept;
    if (eplst_) {
        for (const auto& [title, flags] : *eplst_->asDictionary()) {
            if (titles.count(title) != 0) kept.emplace(title, flags);
        }
    }
    eplst_ = PlistValue::dictionary(std::move(kept));
    // An empty result is kept in memory only: the stored record stays as it was.
    if (!eplst_->asDictionary()->empty()) {
        platform_.defaults.setObject(*eplst_, defaultsKey::kDownloadedEpisodeList);
    }
}

void AppDelegate::registerObservers() {
    NotificationCenter& center = platform_.center;
    auto on = [&](const char* name, void (AppDelegate::*handler)(const PlistValue&)) {
        center.addObserver(this, name, [this, handler](const PlistValue& o) { (this->*handler)(o); });
    };
    on(notification::kDownloadRequest, &AppDelegate::getDownloadRequest);
    on(notification::kDownloadStatus, &AppDelegate::getDownloadStatus);
    on(notification::kDeleteCompletedItem, &AppDelegate::deleteCompletedStatus);
    on(notification::kAutoDownloadComplete, &AppDelegate::getAutoDownloadComplete);
    on(notification::kUpdateSaveLogFile, &AppDelegate::updateDefaults_saveLogFile);
    on(notification::kUpdateSaveDebugLog, &AppDelegate::updateDefaults_saveDebugLog);
    on(notification::kUpdateUseAutoDownloadSystem,
       &AppDelegate::updateDefaults_useAutoDownloadSystem);
    on(notification::kUpdateDlst, &AppDelegate::updateDefaults_dlst);
    on(notification::kUpdateEplst, &AppDelegate::updateDefaults_eplst);
}

int AppDelegate::applicationShouldTerminate() {
    std::size_t downloading = 0;
    {
        std::lock_guard lock(tableMutex_);
        downloading = static_cast<std::size_t>(
            std::count_if(dlstts_.begin(), dlstts_.end(), [](const PlistValue& row) {
                return row.stringFor(key::kStatus) == status::kDownloading;
            }));
    }
    if (downloading == 0) return 1;
    const int answer = platform_.alerts.runModal(Alert::legacy(
        "Kestrova", "終了", "キャンセル", "",
        "ダウンロードが完了していないアイテムがあります。\nこのまま終了しますか？"));
    return answer == Alert::kAlternateReturn ? 0 : 1;
}

void AppDelegate::applicationWillTerminate() {
    platform_.log.log("Application Terminate.");
    // A scan in flight gives up its fetch at once.
    platform_.shutdown.cancel();
    if (queue_) queue_->cancelAllOperations();
    platform_.defaults.synchronize();
    if (!saveLogFile_) activityLog_.removeIfPresent();
    platform_.center.removeObserver(this);
    platform_.runLoop.removeTimer(statusTimer_);
    platform_.runLoop.removeTimer(scanTimer_);

    {
        std::lock_guard lock(listsMutex_);
        setDownloadListLocked(std::nullopt);
        eplst_.reset();
    }
    {
        std::lock_guard lock(tableMutex_);
        dlstts_.clear();
    }
    scanThread_.wait();
    autoDownloadSystem_.reset();
    adminSystemStatusBar_.reset();
    observePasteBoard_.reset();
    // Waits for the cancelled operations' threads, which leave at once.
    queue_.reset();
}

void AppDelegate::updateSystemStatusBarMenu() {
    if (adminSystemStatusBar_) adminSystemStatusBar_->setDownloadStatus(downloadStatusTable());
}

void AppDelegate::getDownloadRequest(const PlistValue& object) {
    PlistValue request = object;
    // Counted with wrap-around: ids are texts for display and never overflow into UB.
    downloadId_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(downloadId_) + 1U);
    if (!request.isDictionary()) {
        platform_.log.log("AppDelegate -> Ignored Request: not a dictionary.");
        return;
    }
    const std::string url = request.stringFor(key::kURL);
    const bool automatic = request.find(key::kTitle) != nullptr;
    if (HttpUrl::isHttps(url)) {
        if (!automatic) {
            platform_.alerts.runModal(Alert::withButtons(
                "Kestrova エラー", "https 通信には対応しておりません。", {"OK"},
                Alert::Style::Warning));
        }
        return;
    }
    if (!automatic) {
        addOperation(std::make_shared<FileDownload>(platform_, url, downloadId_));
        return;
    }
    addOperation(std::make_shared<FileDownload_Auto>(
        platform_, url, completedAutomaticRequest(std::move(request)), episodeClaims_));
}

// The request with every entry of the first download-list record of the same title added, the
// record's values replacing the request's.
PlistValue AppDelegate::completedAutomaticRequest(PlistValue request) const {
    const std::string title = request.stringFor(key::kTitle);
    std::lock_guard lock(listsMutex_);
    const auto found = titleIndex_.find(title);
    if (!dlst_ || found == titleIndex_.end()) return request;
    if (const auto* entries = (*dlst_->asArray())[found->second].asDictionary()) {
        for (const auto& [k, v] : *entries) request.asDictionary()->insert_or_assign(k, v);
    }
    return request;
}

void AppDelegate::addOperation(std::shared_ptr<Operation> operation) {
    operation->addObserver(this, Operation::kIsFinished);
    queue_->addOperation(std::move(operation));
}

void AppDelegate::observeValueForKeyPath(const std::string& keyPath, Operation& object,
                                         bool /*newValue*/) {
    object.removeObserver(this, keyPath);
}

void AppDelegate::getDownloadStatus(const PlistValue& object) {
    if (!object.isDictionary()) return;
    std::lock_guard lock(tableMutex_);
    if (object.stringFor(key::kStatus) == status::kSetup) {
        dlstts_.push_back(object);
        return;
    }
    const std::string id = object.stringFor(key::kId);
    for (auto& row : dlstts_) {
        if (row.stringFor(key::kId) == id) {
            row = object;
            return;
        }
    }
}

void AppDelegate::deleteCompletedStatus(const PlistValue& /*object*/) {
    std::lock_guard lock(tableMutex_);
    std::erase_if(dlstts_, [](const PlistValue& row) {
        const std::string s = row.stringFor(key::kStatus);
        return s != status::kSetup && s != status::kDownloading;
    });
}

void AppDelegate::getAutoDownloadComplete(const PlistValue& object) {
    const std::string* file = object.asString();
    if (file == nullptr || !autoDownloadSystem_) return;
    // Read, compute and replace under one lock so that two episodes finishing at once are
    // both recorded.
    std::lock_guard lock(listsMutex_);
    const PlistValue current = eplst_.value_or(PlistValue::dictionary());
    eplst_ = autoDownloadSystem_->eplstManager(*file, current, dlst_.value_or(PlistValue::array()));
    platform_.defaults.setObject(*eplst_, defaultsKey::kDownloadedEpisodeList);
}

void AppDelegate::updateDefaults_saveLogFile(const PlistValue& object) {
    const auto value = boolValue(object);
    if (!value) return;
    saveLogFile_ = *value;
    platform_.defaults.setBool(saveLogFile_, defaultsKey::kSaveLogFile);
}

void AppDelegate::updateDefaults_saveDebugLog(const PlistValue& object) {
    const auto value = boolValue(object);
    if (!value) return;
    saveDebugLog_ = *value;
    platform_.defaults.setBool(saveDebugLog_, defaultsKey::kSaveDebugLog);
}

void AppDelegate::updateDefaults_useAutoDownloadSystem(const PlistValue& object) {
    const auto value = boolValue(object);
    if (!value) return;
    useAutoDownloadSystem_ = *value;
    if (autoDownloadSystem_) autoDownloadSystem_->setIsEnable(useAutoDownloadSystem_);
    platform_.defaults.setBool(useAutoDownloadSystem_, defaultsKey::kUseAutoDownloadSystem);
}

void AppDelegate::updateDefaults_dlst(const PlistValue& object) {
    if (!object.isArray()) {
        platform_.log.log("AppDelegate -> Ignored Download List: not a list.");
        return;
    }
    {
        std::lock_guard lock(listsMutex_);
        setDownloadListLocked(object);
    }
    platform_.defaults.setObject(object, defaultsKey::kAutoDownloadList);
    if (adminSystemStatusBar_) {
        adminSystemStatusBar_->updateAutoDownloadSystemMenu(useAutoDownloadSystem_, object,
                                                            episodeList());
    }
}

void AppDelegate::updateDefaults_eplst(const PlistValue& object) {
    if (!object.isDictionary()) {
        platform_.log.log("AppDelegate -> Ignored Episode List: not a record.");
        return;
    }
    std::lock_guard lock(listsMutex_);
    eplst_ = object;
    platform_.defaults.setObject(object, defaultsKey::kDownloadedEpisodeList);
}

void AppDelegate::startAutoDownloadSystem() {
    if (!autoDownloadSystem_ || platform_.shutdown.isCancelled()) return;
    activityLog_.applySizeRule(platform_.log);
    // The scan works on its own copies: a list replaced during the scan does not reach it.
    const bool started = scanThread_.start(
        [system = autoDownloadSystem_.get(), site = platform_.config.siteURL,
         list = downloadList(), episodes = episodeList()] {
            system->analyzeWithURL(site, list, episodes);
        });
    if (!started) platform_.log.log("AutoDownloadSystem -> Previous Scan Still Running.");
}

std::vector<PlistValue> AppDelegate::downloadStatusTable() const {
    std::lock_guard lock(tableMutex_);
    return dlstts_;
}

std::optional<PlistValue> AppDelegate::downloadList() const {
    std::lock_guard lock(listsMutex_);
    return dlst_;
}

std::optional<PlistValue> AppDelegate::episodeList() const {
    std::lock_guard lock(listsMutex_);
    return eplst_;
}

}  // namespace kestrova
