#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/BannerService.h"

namespace kestrova::test {

// Banners for tests: every (title, text) delivered, in order. Safe from any thread.
class RecordingBanners : public BannerService {
public:
    void deliver(const std::string& title, const std::string& informativeText) override {
        std::lock_guard lock(mutex_);
        delivered_.emplace_back(title, informativeText);
    }
    std::vector<std::pair<std::string, std::string>> delivered() const {
        std::lock_guard lock(mutex_);
        return delivered_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<std::string, std::string>> delivered_;
};

}  // namespace kestrova::test
