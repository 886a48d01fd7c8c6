#pragma once

// The ten notification names that carry all traffic between Kestrova's objects, and the keys of
// the dictionaries they carry.
namespace kestrova::notification {

// Object: a download request {"URL"} (manual) or {"URL", "title", "file"} (automatic).
inline constexpr const char* kDownloadRequest = "downloadRequest";
// Object: a download status record {"id", "name", "percentage", "status"}.
inline constexpr const char* kDownloadStatus = "downloadStatus";
// No object.
inline constexpr const char* kDeleteCompletedItem = "deleteCompletedItem";
// Object: the episode name (text).
inline constexpr const char* kAutoDownloadComplete = "autoDownloadComplete";
// Object: the text "YES" or "NO".
inline constexpr const char* kCheckPasteBoard = "checkPasteBoard";
// Object: the new boolean setting / the whole new list.
inline constexpr const char* kUpdateSaveLogFile = "updateDefaults_saveLogFile";
inline constexpr const char* kUpdateSaveDebugLog = "updateDefaults_saveDebugLog";
inline constexpr const char* kUpdateUseAutoDownloadSystem = "updateDefaults_useAutoDownloadSystem";
inline constexpr const char* kUpdateDlst = "updateDefaults_dlst";
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
inline constexpr const char* kAutoDownloadList = "autoDownloadList";
inline constexpr const char* kDownloadedEpisodeList = "downloadedEpisodeList";

}  // namespace kestrova::defaultsKey
