#include "platform/headless/HeadlessBanners.h"

#include "platform/text/TextUtil.h"

namespace kestrova {

void HeadlessBanners::deliver(const std::string& title, const std::string& informativeText) {
    log_.log("Banner -> " + title + ": " + TextUtil::forLog(informativeText));
}

}  // namespace kestrova
