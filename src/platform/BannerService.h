#pragma once

#include <string>

namespace kestrova {

// Desktop notifications ("banners"): a title, a text and the default sound, shown even while
// Kestrova is the active application.
class BannerService {
public:
    virtual ~BannerService() = default;
    virtual void deliver(const std::string& title, const std::string& informativeText) = 0;
};

}  // namespace kestrova
