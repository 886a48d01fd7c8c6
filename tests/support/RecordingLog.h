#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "platform/system/StderrLog.h"

namespace kestrova::test {

// Keeps every message in order, and after redirectToFile() also appends it to that file.
class RecordingLog : public SystemLog {
public:
    void log(std::string_view message) override {
        std::lock_guard lock(mutex_);
        lines_.emplace_back(message);
        if (!file_.empty()) {
            std::ofstream(file_, std::ios::app | std::ios::binary)
                << StderrLog::formatLine(message) << '\n';
        }
    }
    bool redirectToFile(const std::filesystem::path& path) override {
        std::lock_guard lock(mutex_);
        file_ = path;
        return std::ofstream(file_, std::ios::app).good();
    }
    std::vector<std::string> lines() const { return linesStartingWith(""); }
    std::vector<std::string> linesStartingWith(const std::string& prefix) const {
        std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        std::copy_if(lines_.begin(), lines_.end(), std::back_inserter(out),
                     [&](const std::string& l) { return l.starts_with(prefix); });
        return out;
    }
    bool contains(const std::string& message) const {
        const auto all = lines();
        return std::find(all.begin(), all.end(), message) != all.end();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::filesystem::path file_;
};

}  // namespace kestrova::test
