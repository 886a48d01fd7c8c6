#pragma once

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "platform/SystemLog.h"

namespace kestrova::test {

// A system log for tests: keeps every message in order, and after redirectToFile() also
// appends each line to that file (without touching the test process's standard error).
class RecordingLog : public SystemLog {
public:
    void log(std::string_view message) override;
    bool redirectToFile(const std::filesystem::path& path) override;

    std::vector<std::string> lines() const;
    // Messages that begin with prefix, in order.
    std::vector<std::string> linesStartingWith(const std::string& prefix) const;
    bool contains(const std::string& message) const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::filesystem::path file_;
};

}  // namespace kestrova::test
