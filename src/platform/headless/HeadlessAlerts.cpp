#include "platform/headless/HeadlessAlerts.h"

#include "platform/text/TextUtil.h"

namespace kestrova {

int HeadlessAlerts::runModal(const Alert& alert) {
    const std::string button = alert.buttons.empty() ? std::string() : alert.buttons.front();
    // Keep the entry on one log line.
    log_.log("Alert -> " + alert.messageText + ": " +
             TextUtil::replaceAll(alert.informativeText, "\n", " ") + " [" + button + "]");
    return alert.defaultReturnCode();
}

}  // namespace kestrova
