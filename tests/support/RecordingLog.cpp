#include "support/RecordingLog.h"

#include <algorithm>
#include <fstream>

#include "platform/system/StderrLog.h"

namespace kestrova::test {

void RecordingLog::log(std::string_view message) {
    std::lock_guard lock(mutex_);
    lines_.emplace_back(message);
    if (!file_.empty()) {
        std::ofstream out(file_, std::ios::app | std::ios::binary);
        out << StderrLog::formatLine(message) << '\n';
    }
}

bool RecordingLog::redirectToFile(const std::filesystem::path& path) {
    std::lock_guard lock(mutex_);
    file_ = path;
    return std::ofstream(file_, std::ios::app).good();
}

std::vector<std::string> RecordingLog::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

std::vector<std::string> RecordingLog::linesStartingWith(const std::string& prefix) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    std::copy_if(lines_.begin(), lines_.end(), std::back_inserter(out),
                 [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    return out;
}

bool RecordingLog::contains(const std::string& message) const {
    std::lock_guard lock(mutex_);
    return std::find(lines_.begin(), lines_.end(), message) != lines_.end();
}

void RecordingLog::clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
}

}  // namespace kestrova::test
