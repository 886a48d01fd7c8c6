#include "platform/qt/QtWorkspace.h"

#include <QDesktopServices>
#include <QUrl>

namespace kestrova::qt {

bool QtWorkspace::openURL(const std::string& url) {
    const QUrl parsed(QString::fromStdString(url), QUrl::StrictMode);
    if (!parsed.isValid() || parsed.isRelative()) {
        log_.log("QtWorkspace -> Not an address: " + url);
        return false;
    }
    if (!QDesktopServices::openUrl(parsed)) {
        log_.log("QtWorkspace -> Could not open: " + url);
        return false;
    }
    return true;
}

}  // namespace kestrova::qt
