#pragma once

#include <filesystem>

#include "platform/SystemLog.h"
#include "platform/system/Files.h"
#include "platform/system/UniqueFd.h"

namespace kestrova::qt {

class QtBanners;

// Tells the user that Kestrova runs although this desktop shows no status items (GNOME Shell
// without the AppIndicator extension), and how to get them: a notification whose action opens
// the activity log's folder or, where no notification server takes it either, one line on the
// standard error Kestrova was started with. Told once per installation until a panel has shown
// the item, so that a Kestrova opened at every login does not say it at every login; the marker
// of that is a regular file beside the settings. Main thread.
class NoTrayHostNotice {
public:
    // console: the process's standard error as it was at start (the log takes it over later).
    NoTrayHostNotice(QtBanners& banners, SystemLog& log, const Files& files, UniqueFd console);

    // No panel has come since the start.
    void hostMissing();
    // A panel shows the item: the next time there is none is worth saying again.
    void hostSeen();

private:
    bool told() const;
    void answered(bool shown);

    QtBanners& banners_;
    SystemLog& log_;
    std::filesystem::path marker_;
    std::filesystem::path logFolder_;
    UniqueFd console_;
};

}  // namespace kestrova::qt
