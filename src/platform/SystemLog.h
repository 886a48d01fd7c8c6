#pragma once

#include <filesystem>
#include <string_view>

namespace kestrova {

// The system log: each call writes one whole line. Safe from any thread.
class SystemLog {
public:
    virtual ~SystemLog() = default;
    virtual void log(std::string_view message) = 0;
    // From now on lines go (also) to the end of this file: the activity log. Answers whether
    // the file could be opened.
    virtual bool redirectToFile(const std::filesystem::path& path) = 0;
};

}  // namespace kestrova
