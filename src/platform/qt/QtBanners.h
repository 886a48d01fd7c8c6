#pragma once

#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/BannerService.h"
#include "platform/SystemLog.h"
#include "platform/qt/NotificationActions.h"

class QObject;

namespace kestrova::qt {

// Banners through the desktop's notification server: org.freedesktop.Notifications Notify on
// the session bus, app name "Kestrova", normal urgency and the "message-new-instant" sound, so
// that every desktop shows them (low-urgency ones are hidden by some) and plays a sound.
//
// deliver() may be called from any thread; the call is sent from the main thread without
// waiting for the answer. A server that speaks body markup gets the text escaped, so a file
// name such as "Tom & Jerry <1>.mp4" is shown as it is. A server that offers actions gets
// "開く" and "フォルダを表示" on a banner about a file (NotificationActions). Failures are
// logged.
class QtBanners : public BannerService {
public:
    explicit QtBanners(SystemLog& log);
    ~QtBanners() override;
    QtBanners(const QtBanners&) = delete;
    QtBanners& operator=(const QtBanners&) = delete;

    void deliver(const std::string& title, const std::string& informativeText) override;
    void deliverForFile(const std::string& title, const std::string& informativeText,
                        const std::filesystem::path& file) override;
    // A banner whose one action, action (also a click on the banner), opens folder; answered
    // tells on the main thread whether a notification server took it. Main thread.
    void deliverOpeningFolder(const std::string& title, const std::string& informativeText,
                              const std::filesystem::path& folder, const std::string& action,
                              std::function<void(bool)> answered);

private:
    struct Banner {
        std::string title;
        std::string text;
        std::filesystem::path file;  // what the actions open or show; none: no actions
        QStringList actions;         // key, label, key, label...
        std::function<void(bool)> answered;
    };

    void send(Banner banner);
    void notify(const Banner& banner);

    SystemLog& log_;
    std::unique_ptr<QObject> context_;  // the main thread's end; owns the pending calls
    std::unique_ptr<NotificationActions> actions_;
    std::optional<QStringList> capabilities_;  // the server's answer, once known
};

}  // namespace kestrova::qt
