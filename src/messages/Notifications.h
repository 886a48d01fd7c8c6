#pragma once

// The notification names that carry all traffic between Kestrova's parts, and the keys of
// the dictionaries they carry. Delivery is synchronous, on the posting thread; each line says
// who posts, who observes, and on which thread.
namespace kestrova::notification {

// Clipboard command (main) and AutoDownloadSystem (scan, delivered on main through the run loop)
// -> AppDelegate::getDownloadRequest. {"URL"} (manual) or {"URL", "title", "file"} (automatic).
inline constexpr const char* kDownloadRequest = "downloadRequest";
// FileDownload (its operation's thread) -> AppDelegate::getDownloadStatus, which fills the
// download status table. {"id", "name", "percentage", "status"}.
inline constexpr const char* kDownloadStatus = "downloadStatus";
// Menu command "ダウンロードが完了した項目を削除" (main) -> AppDelegate::deleteCompletedStatus.
// No object.
inline constexpr const char* kDeleteCompletedItem = "deleteCompletedItem";
// The winning FileDownload_Auto (its operation's thread) -> every FileDownload_Auto of the
// episode (cancels itself) and AppDelegate::getAutoDownloadComplete (records the episode), on
// that same thread. The episode name (text).
inline constexpr const char* kAutoDownloadComplete = "autoDownloadComplete";
// ObservePasteBoard (main) -> AdminSystemStatusBar (enables the clipboard command). "YES"/"NO".
inline constexpr const char* kCheckPasteBoard = "checkPasteBoard";
// Settings switches of the menu (main) -> AppDelegate, which stores and applies the new
// boolean value.
inline constexpr const char* kUpdateSaveLogFile = "updateDefaults_saveLogFile";
inline constexpr const char* kUpdateSaveDebugLog = "updateDefaults_saveDebugLog";
inline constexpr const char* kUpdateUseAutoDownloadSystem = "updateDefaults_useAutoDownloadSystem";
// The anime switches of the menu (main) and a scan's list refresh (delivered on main through the
// run loop) -> AppDelegate::updateDefaults_dlst, which stores the whole new list and rebuilds the
// auto-download menu.
inline constexpr const char* kUpdateDlst = "updateDefaults_dlst";
// FileDownload and FileDownload_Auto (their operation's thread), at most four times a second
// while data arrives and once when they end -> the terminal's progress lines (TerminalProgress),
// when Kestrova runs on a terminal. {"name", "received", "expected" (-1: unknown), "ended"}.
inline constexpr const char* kDownloadProgress = "downloadProgress";
// Nothing posts it today; AppDelegate::updateDefaults_eplst (main) stores a whole new episode
// record.
inline constexpr const char* kUpdateEplst = "updateDefaults_eplst";

}  // namespace kestrova::notification

namespace kestrova::key {

// Download request.
inline constexpr const char* kURL = "URL";
inline constexpr const char* kTitle = "title";
inline constexpr const char* kFile = "file";
// Download status record.
inline constexpr const char* kId = "id";
inline constexpr const char* kName = "name";
inline constexpr const char* kPercentage = "percentage";
inline constexpr const char* kStatus = "status";
// Download progress.
inline constexpr const char* kReceived = "received";
inline constexpr const char* kExpected = "expected";
inline constexpr const char* kEnded = "ended";
// Anime record (besides "title" and "status").
inline constexpr const char* kKeyword = "keyword";
inline constexpr const char* kLock = "lock";
inline constexpr const char* kTime = "time";

}  // namespace kestrova::key

namespace kestrova::status {

inline constexpr const char* kSetup = "setup";
inline constexpr const char* kDownloading = "downloading";
inline constexpr const char* kComplete = "complete";
inline constexpr const char* kError = "error";

}  // namespace kestrova::status

namespace kestrova::defaultsKey {

inline constexpr const char* kSaveLogFile = "saveLogFile";
inline constexpr const char* kSaveDebugLog = "saveDebugLog";
inline constexpr const char* kUseAutoDownloadSystem = "useAutoDownloadSystem";
// Not in the menu: set in the settings file by people who want https downloads.
inline constexpr const char* kAllowHTTPS = "allowHTTPS";
// Not in the menu either: how many connections one download may open (1 to 16, 1: never split),
// and the speed limit of all downloads together in bytes per second (0: none).
inline constexpr const char* kConnectionsPerDownload = "connectionsPerDownload";
inline constexpr const char* kSpeedLimit = "speedLimit";
inline constexpr const char* kAutoDownloadList = "autoDownloadList";
inline constexpr const char* kDownloadedEpisodeList = "downloadedEpisodeList";

}  // namespace kestrova::defaultsKey
