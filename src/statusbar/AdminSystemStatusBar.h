#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/PlatformServices.h"
#include "platform/PlistValue.h"

namespace kestrova {

// The status item "⬇" and its menu: the pasteboard command, the download items, the
// auto-download and settings submenus and the quit command. Receives the download status table
// every second and the lists when they change; everything it reports goes out as notifications.
// Main thread only.
class AdminSystemStatusBar {
public:
    AdminSystemStatusBar(const PlatformServices& platform, bool debug);
    ~AdminSystemStatusBar();

    void setupSystemStatusBarWithSaveLogFile(bool saveLogFile);
    // table: download status records in the coordinator's order (an immutable snapshot).
    void setDownloadStatus(const std::vector<PlistValue>& table);
    void updateAutoDownloadSystemMenu(bool useAutoDownloadSystem,
                                      const std::optional<PlistValue>& downloadList,
                                      const std::optional<PlistValue>& episodeList);
};

}  // namespace kestrova
