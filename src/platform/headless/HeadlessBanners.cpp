#include "platform/headless/HeadlessBanners.h"

namespace kestrova {

void HeadlessBanners::deliver(const std::string& title, const std::string& informativeText) {
    log_.log("Banner -> " + title + ": " + informativeText);
}

}  // namespace kestrova
