#include "platform/headless/HeadlessWorkspace.h"

namespace kestrova {

bool HeadlessWorkspace::openURL(const std::string& url) {
    log_.log("Workspace -> Open: " + url);
    return false;
}

}  // namespace kestrova
