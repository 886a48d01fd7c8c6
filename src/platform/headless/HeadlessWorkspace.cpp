#include "platform/headless/HeadlessWorkspace.h"

#include "platform/text/TextUtil.h"

namespace kestrova {

bool HeadlessWorkspace::openURL(const std::string& url) {
    log_.log("Workspace -> Open: " + TextUtil::forLog(url));
    return false;
}

}  // namespace kestrova
