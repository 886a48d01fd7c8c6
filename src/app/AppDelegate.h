#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "app/ActivityLog.h"
#include "app/DownloadStatusTable.h"
#include "app/EpisodeSources.h"
#include "app/HandOffServer.h"
#include "app/ScanSchedule.h"
#include "app/ScanThread.h"
#include "app/StoredLists.h"
#include "platform/Application.h"
#include "platform/PlatformServices.h"
#include "platform/RunLoop.h"
#include "platform/net/UrlTransfer.h"
#include "platform/plist/PlistValue.h"
#include "platform/runtime/KeyValueObserver.h"

namespace kestrova {

class AdminSystemStatusBar;
class AutoDownloadSystem;
class DownloadJournal;
class EpisodeClaims;
class ObservePasteBoard;
class OperationQueue;

// The application's delegate: launches and quits Kestrova, keeps the settings and the two lists
// of the automatic system, and coordinates downloads (requests become queued operations, status
// reports fill the download status table that the menu shows, finished episodes are recorded).
//
// Notification handlers run on the main thread except getDownloadStatus and
// getAutoDownloadComplete, which run on the download operations' threads: the status table and
// the lists are kept by classes of their own (DownloadStatusTable, StoredLists), each with its
// lock. Scans run on a thread of their own (ScanThread) with copies of the lists; quitting stops
// them.
class AppDelegate : public ApplicationDelegate, public KeyValueObserver {
public:
    explicit AppDelegate(const PlatformServices& platform);
    ~AppDelegate() override;

    void applicationDidFinishLaunching() override;
    int applicationShouldTerminate() override;
    void applicationWillTerminate() override;

    void updateSystemStatusBarMenu();
    void getDownloadRequest(const PlistValue& object);
    void getDownloadStatus(const PlistValue& object);
    void deleteCompletedStatus(const PlistValue& object);
    void getAutoDownloadComplete(const PlistValue& object);
    void observeValueForKeyPath(const std::string& keyPath, Operation& object,
                                bool newValue) override;
    void updateDefaults_saveLogFile(const PlistValue& object);
    void updateDefaults_saveDebugLog(const PlistValue& object);
    void updateDefaults_useAutoDownloadSystem(const PlistValue& object);
    void updateDefaults_dlst(const PlistValue& object);
    void updateDefaults_eplst(const PlistValue& object);
    void startAutoDownloadSystem();

private:
    void loadSettings(const PlistValue& shippedList, const PlistValue& shippedEpisodes);
    void continueLastRun();
    bool isRecorded(const std::string& episode) const;
    void nextDownloadId();
    void scanWhenDue();
    void keepStatusRefreshed();
    void registerObservers();
    void addOperation(std::shared_ptr<Operation> operation);

    const PlatformServices& platform_;
    ActivityLog activityLog_;

    std::unique_ptr<AutoDownloadSystem> autoDownloadSystem_;
    std::unique_ptr<AdminSystemStatusBar> adminSystemStatusBar_;
    std::unique_ptr<ObservePasteBoard> observePasteBoard_;
    std::unique_ptr<OperationQueue> queue_;
    std::shared_ptr<EpisodeClaims> episodeClaims_;
    EpisodeSources episodeSources_;
    std::int32_t downloadId_ = 0;
    bool saveLogFile_ = true;
    bool saveDebugLog_ = false;
    bool useAutoDownloadSystem_ = false;
    bool allowHTTPS_ = false;  // read at launch; https then goes through libcurl's checks
    // Read at launch: the connections per download and the speed limit all downloads share.
    UrlTransfer::Options downloadOptions_;

    StoredLists lists_;                         // dlst and eplst
    DownloadStatusTable dlstts_;                // the download status table
    std::unique_ptr<DownloadJournal> journal_;  // the unfinished downloads, for the next run

    // Declared after the system it runs, so that it is waited for before that goes.
    ScanThread scanThread_;
    ScanSchedule scanSchedule_;
    std::atomic<int> scanOutcome_{-1};  // of the last scan: -1 not yet taken, 0 no list, 1 list
    // The menu is refreshed only while a download runs; reports from the operations' threads
    // start the refresh through the run loop, guarded by alive_ against a delegate gone since.
    bool refreshing_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::unique_ptr<HandOffServer> handOff_;
    RunLoop::TimerId statusTimer_ = 0;
    RunLoop::TimerId scanTimer_ = 0;
};

}  // namespace kestrova
