#pragma once

#include <mutex>
#include <set>
#include <string>

namespace kestrova {

// Which episode names have a winner in this run. The sources of one episode race; the first to
// claim its name is the only one that announces it and keeps its file.
class EpisodeClaims {
public:
    // True for the first caller with this name, false for every later one.
    bool claim(const std::string& episodeName);

private:
    std::mutex mutex_;
    std::set<std::string> claimed_;
};

}  // namespace kestrova
