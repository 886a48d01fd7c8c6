#pragma once

#include "platform/BannerService.h"
#include "platform/SystemLog.h"

namespace kestrova {

// Banners without a desktop: each one becomes a log line.
class HeadlessBanners : public BannerService {
public:
    explicit HeadlessBanners(SystemLog& log) : log_(log) {}
    void deliver(const std::string& title, const std::string& informativeText) override;

private:
    SystemLog& log_;
};

}  // namespace kestrova
