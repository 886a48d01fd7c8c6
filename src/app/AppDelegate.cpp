#include "app/AppDelegate.h"

#include <algorithm>
#include <chrono>
#include <limits>

#include "autodownload/AutoDownloadSystem.h"
#include "download/DownloadJournal.h"
#include "download/EpisodeClaims.h"
#include "download/FileDownload.h"
#include "download/FileDownload_Auto.h"
#include "messages/Notifications.h"
#include "platform/Alert.h"
#include "platform/PowerEvents.h"
#include "platform/SystemLog.h"
#include "platform/net/HttpUrl.h"
#include "platform/plist/Bundle.h"
#include "platform/plist/UserDefaults.h"
#include "platform/runtime/Cancellation.h"
#include "platform/runtime/NotificationCenter.h"
#include "platform/runtime/OperationQueue.h"
#include "platform/system/BootClock.h"
#include "platform/system/Files.h"
#include "platform/text/TextUtil.h"
#include "statusbar/AdminSystemStatusBar.h"
#include "statusbar/ObservePasteBoard.h"

namespace kestrova {
namespace {

constexpr std::size_t kMaxConcurrentDownloads = 100;
constexpr std::chrono::milliseconds kStatusInterval{1000};
// How often the scan schedule is looked at: a scan due after a wake-up starts within a minute.
constexpr std::chrono::milliseconds kScheduleInterval{60 * 1000};

constexpr std::int64_t kDefaultConnections = 4;
constexpr std::int64_t kMaxConnections = 16;

// An integer setting kept within [low, high]; a value of another type reads as the fallback.
std::int64_t integerSetting(const UserDefaults& defaults, const char* key, std::int64_t fallback,
                            std::int64_t low, std::int64_t high) {
    const std::optional<PlistValue> value = defaults.objectForKey(key);
    return std::clamp(value ? value->asInteger().value_or(fallback) : fallback, low, high);
}

// A settings notification's object as a boolean: a boolean, or a number (non-zero is true).
std::optional<bool> boolValue(const PlistValue& object) {
    if (auto b = object.asBoolean()) return *b;
    if (auto i = object.asInteger()) return *i != 0;
    return std::nullopt;
}

}  // namespace

AppDelegate::AppDelegate(const PlatformServices& platform)
    : platform_(platform),
      activityLog_(platform.files.applicationDirectory()),
      lists_(platform.defaults),
      journal_(std::make_unique<DownloadJournal>(
          platform.files.configDirectory() / "kestrova" / "journal.plist", platform.log)) {}

AppDelegate::~AppDelegate() {
    alive_.reset();
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

    const PlistValue shippedList =
        platform_.bundle.plistResource("dlst").value_or(PlistValue::array());
    const PlistValue shippedEpisodes =
        platform_.bundle.plistResource("eplst").value_or(PlistValue::dictionary());
    loadSettings(shippedList, shippedEpisodes);

    autoDownloadSystem_ = std::make_unique<AutoDownloadSystem>(platform_, saveDebugLog_);
    autoDownloadSystem_->setIsEnable(useAutoDownloadSystem_);

    adminSystemStatusBar_ = std::make_unique<AdminSystemStatusBar>(platform_, saveDebugLog_);
    adminSystemStatusBar_->setupSystemStatusBarWithSaveLogFile(saveLogFile_);
    adminSystemStatusBar_->updateAutoDownloadSystemMenu(
        useAutoDownloadSystem_, lists_.downloadList(), lists_.episodeList());

    observePasteBoard_ = std::make_unique<ObservePasteBoard>(platform_);
    observePasteBoard_->beginObservingPasteboard();

    queue_ = std::make_unique<OperationQueue>();
    queue_->setMaxConcurrentOperationCount(kMaxConcurrentDownloads);
    episodeClaims_ = std::make_shared<EpisodeClaims>();
    downloadId_ = 0;

    registerObservers();
    handOff_ = std::make_unique<HandOffServer>(
        HandOffServer::defaultPath(platform_.files.configDirectory()), platform_,
        [this] { return dlstts_.snapshot(); });
    scanTimer_ = platform_.runLoop.addTimer(kScheduleInterval, RunLoopMode::Default,
                                            [this] { scanWhenDue(); });
    platform_.powerEvents.whenResumed([this] {
        platform_.log.log("AppDelegate -> Resumed from suspend.");
        scanWhenDue();
    });
    continueLastRun();
    startAutoDownloadSystem();
}

void AppDelegate::loadSettings(const PlistValue& shippedList, const PlistValue& shippedEpisodes) {
    UserDefaults& defaults = platform_.defaults;
    defaults.registerDefaults({
        {defaultsKey::kSaveLogFile, PlistValue::boolean(true)},
        {defaultsKey::kSaveDebugLog, PlistValue::boolean(false)},
        {defaultsKey::kUseAutoDownloadSystem, PlistValue::boolean(false)},
        {defaultsKey::kAllowHTTPS, PlistValue::boolean(false)},
        {defaultsKey::kConnectionsPerDownload, PlistValue::integer(kDefaultConnections)},
        {defaultsKey::kSpeedLimit, PlistValue::integer(0)},
        {defaultsKey::kAutoDownloadList, shippedList},
        {defaultsKey::kDownloadedEpisodeList, shippedEpisodes},
    });
    saveLogFile_ = defaults.boolForKey(defaultsKey::kSaveLogFile);
    saveDebugLog_ = defaults.boolForKey(defaultsKey::kSaveDebugLog);
    useAutoDownloadSystem_ = defaults.boolForKey(defaultsKey::kUseAutoDownloadSystem);
    allowHTTPS_ = defaults.boolForKey(defaultsKey::kAllowHTTPS);
    downloadOptions_.connections = static_cast<int>(integerSetting(
        defaults, defaultsKey::kConnectionsPerDownload, kDefaultConnections, 1, kMaxConnections));
    const std::int64_t limit = integerSetting(defaults, defaultsKey::kSpeedLimit, 0, 0,
                                              std::numeric_limits<std::int64_t>::max());
    if (limit > 0) downloadOptions_.speedLimit = std::make_shared<SpeedLimit>(limit);

    lists_.load(shippedEpisodes, platform_.log);
}

// Before the first scan: each download of the last run that the journal holds asks for the rest
// of its file; the other ".download" files of earlier runs go (no other Kestrova can be writing
// them now: the single-instance lock). An episode recorded since (the run ended between the win
// and the row's removal) is not fetched again.
void AppDelegate::continueLastRun() {
    std::vector<DownloadJournal::Resumable> rows = journal_->resumable(
        platform_.files.downloadsDirectory(), platform_.files.applicationDirectory());
    std::vector<std::string> keep;
    std::erase_if(rows, [&](const DownloadJournal::Resumable& row) {
        if (!row.entry.automatic()) return false;
        if (!isRecorded(row.entry.episode)) {
            keep.push_back(row.entry.file);
            return false;
        }
        platform_.log.log("DownloadJournal -> Dropped: " + TextUtil::forLog(row.entry.file) +
                          " (the episode is recorded)");
        journal_->remove(row.handle);
        return true;
    });
    for (const std::string& name :
         Files::removeFilesEndingWith(platform_.files.applicationDirectory(), ".download", keep)) {
        platform_.log.log("AppDelegate -> Removed Unfinished Download: " + TextUtil::forLog(name));
    }
    for (DownloadJournal::Resumable& row : rows) {
        const std::string url = row.entry.url;
        if (!row.entry.automatic()) {
            nextDownloadId();
            addOperation(std::make_shared<FileDownload>(
                platform_, url, downloadId_, downloadOptions_, Journaling{journal_.get(), row}));
            continue;
        }
        const std::string episode = row.entry.episode;
        PlistValue anime = lists_.completedRequest(PlistValue::dictionary({
            {key::kURL, PlistValue::string(url)},
            {key::kTitle, PlistValue::string(row.entry.title)},
            {key::kFile, PlistValue::string(episode)},
        }));
        episodeSources_.addResumed(
            episode, url, [this, url, anime = std::move(anime), row = std::move(row)] {
                if (platform_.shutdown.isCancelled()) return;
                addOperation(std::make_shared<FileDownload_Auto>(platform_, url, anime,
                                                                 episodeClaims_, downloadOptions_,
                                                                 Journaling{journal_.get(), row}));
            });
    }
}

bool AppDelegate::isRecorded(const std::string& episode) const {
    const std::optional<PlistValue> episodes = lists_.episodeList();
    const std::optional<PlistValue> list = lists_.downloadList();
    if (!episodes || !list) return false;
    return autoDownloadSystem_->eplstManager(episode, *episodes, *list) == *episodes;
}

void AppDelegate::registerObservers() {
    NotificationCenter& center = platform_.center;
    auto on = [&](const char* name, void (AppDelegate::*handler)(const PlistValue&)) {
        center.addObserver(this, name,
                           [this, handler](const PlistValue& o) { (this->*handler)(o); });
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
    if (dlstts_.countWithStatus(status::kDownloading) == 0) return 1;
    const int answer = platform_.alerts.runModal(Alert::withDefaultAlternateOther(
        "Kestrova", "終了", "キャンセル", "",
        "ダウンロードが完了していないアイテムがあります。\nこのまま終了しますか？"));
    return answer == Alert::kAlternateReturn ? 0 : 1;
}

void AppDelegate::applicationWillTerminate() {
    platform_.log.log("Application Terminate.");
    handOff_.reset();
    platform_.powerEvents.whenResumed({});
    // A scan in flight gives up its fetch at once; no waiting source starts any more.
    platform_.shutdown.cancel();
    episodeSources_.clear();
    if (queue_) queue_->cancelAllOperations();
    platform_.defaults.synchronize();
    if (!saveLogFile_) activityLog_.removeIfPresent();
    platform_.center.removeObserver(this);
    platform_.runLoop.removeTimer(statusTimer_);
    platform_.runLoop.removeTimer(scanTimer_);

    lists_.clear();
    dlstts_.clear();
    scanThread_.wait();
    autoDownloadSystem_.reset();
    adminSystemStatusBar_.reset();
    observePasteBoard_.reset();
    // Waits for the cancelled operations' threads, which leave at once.
    queue_.reset();
    // Their rows now hold what the next launch continues.
    journal_->flush();
}

void AppDelegate::updateSystemStatusBarMenu() {
    if (adminSystemStatusBar_) adminSystemStatusBar_->setDownloadStatus(dlstts_.snapshot());
    // Nothing left that changes: the refresh sleeps until the next report.
    if (refreshing_ && dlstts_.countWithStatus(status::kSetup) == 0 &&
        dlstts_.countWithStatus(status::kDownloading) == 0) {
        platform_.runLoop.removeTimer(statusTimer_);
        refreshing_ = false;
    }
}

// Main thread: the once-a-second refresh runs while downloads change.
void AppDelegate::keepStatusRefreshed() {
    if (refreshing_ || !adminSystemStatusBar_) return;
    refreshing_ = true;
    statusTimer_ = platform_.runLoop.addTimer(kStatusInterval, RunLoopMode::Common,
                                              [this] { updateSystemStatusBarMenu(); });
}

void AppDelegate::scanWhenDue() {
    if (const int outcome = scanOutcome_.exchange(-1); outcome >= 0) {
        scanSchedule_.finished(outcome == 1);
    }
    if (scanSchedule_.due(BootClock::now())) startAutoDownloadSystem();
}

void AppDelegate::getDownloadRequest(const PlistValue& object) {
    PlistValue request = object;
    nextDownloadId();
    if (!request.isDictionary()) {
        platform_.log.log("AppDelegate -> Ignored Request: not a dictionary.");
        return;
    }
    const std::string url = request.stringFor(key::kURL);
    const bool automatic = request.find(key::kTitle) != nullptr;
    if (HttpUrl::isHttps(url) && !allowHTTPS_) {
        if (!automatic) {
            platform_.alerts.runModal(Alert::withButtonList("Kestrova エラー",
                                                            "https 通信には対応しておりません。",
                                                            {"OK"}, Alert::Style::Warning));
        }
        return;
    }
    if (!automatic) {
        addOperation(std::make_shared<FileDownload>(platform_, url, downloadId_, downloadOptions_,
                                                    Journaling{journal_.get()}));
        return;
    }
    const std::string episode = request.stringFor(key::kFile);
    // Kept in this run already, or this very source goes on from the last run.
    if (episodeClaims_->isClaimed(episode) || episodeSources_.isResuming(episode, url)) return;
    episodeSources_.add(episode, [this, url, anime = lists_.completedRequest(std::move(request))] {
        if (platform_.shutdown.isCancelled()) return;
        addOperation(std::make_shared<FileDownload_Auto>(
            platform_, url, anime, episodeClaims_, downloadOptions_, Journaling{journal_.get()}));
    });
}

// Counted with wrap-around: ids are texts for display and never overflow into UB.
void AppDelegate::nextDownloadId() {
    downloadId_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(downloadId_) + 1U);
}

void AppDelegate::addOperation(std::shared_ptr<Operation> operation) {
    operation->addObserver(this, Operation::kIsFinished);
    queue_->addOperation(std::move(operation));
}

void AppDelegate::observeValueForKeyPath(const std::string& keyPath, Operation& object,
                                         bool /*newValue*/) {
    object.removeObserver(this, keyPath);
    // The next source of its episode may start in its place.
    if (const auto* source = dynamic_cast<const FileDownload_Auto*>(&object)) {
        const std::string& episode = source->episodeName();
        episodeSources_.ended(episode, episodeClaims_->isClaimed(episode), source->urlText());
    }
}

void AppDelegate::getDownloadStatus(const PlistValue& object) {
    dlstts_.apply(object);
    platform_.runLoop.post([this, alive = std::weak_ptr<bool>(alive_)] {
        if (alive.lock()) keepStatusRefreshed();
    });
}

void AppDelegate::deleteCompletedStatus(const PlistValue& /*object*/) {
    dlstts_.deleteCompleted();
    updateSystemStatusBarMenu();
}

void AppDelegate::getAutoDownloadComplete(const PlistValue& object) {
    const std::string* file = object.asString();
    if (file == nullptr || !autoDownloadSystem_) return;
    lists_.updateEpisodeList([&](const PlistValue& current, const PlistValue& downloadList) {
        return autoDownloadSystem_->eplstManager(*file, current, downloadList);
    });
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
    lists_.setDownloadList(object);
    if (adminSystemStatusBar_) {
        adminSystemStatusBar_->updateAutoDownloadSystemMenu(useAutoDownloadSystem_, object,
                                                            lists_.episodeList());
    }
}

void AppDelegate::updateDefaults_eplst(const PlistValue& object) {
    if (!object.isDictionary()) {
        platform_.log.log("AppDelegate -> Ignored Episode List: not a record.");
        return;
    }
    lists_.setEpisodeList(object);
}

void AppDelegate::startAutoDownloadSystem() {
    if (!autoDownloadSystem_ || platform_.shutdown.isCancelled()) return;
    activityLog_.applySizeRule(platform_.log);
    // The scan works on its own copies: a list replaced during the scan does not reach it.
    const bool started = scanThread_.start(
        [this, system = autoDownloadSystem_.get(), site = platform_.config.siteURL,
         list = lists_.downloadList(), episodes = lists_.episodeList()] {
            scanOutcome_ = system->analyzeWithURL(site, list, episodes) ? 1 : 0;
        });
    if (!started) {
        platform_.log.log("AutoDownloadSystem -> Previous Scan Still Running.");
        return;
    }
    scanSchedule_.started(BootClock::now());
}

}  // namespace kestrova
