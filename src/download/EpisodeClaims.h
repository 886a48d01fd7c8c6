#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "download/EpisodeRace.h"

namespace kestrova {

// Which episode names have a winner in this run, and the race of each episode's sources. The
// first source to claim an episode's name is the only one that announces it and keeps its file.
class EpisodeClaims {
public:
    // The races run with these timings.
    explicit EpisodeClaims(EpisodeRace::Timing timing = {}) : timing_(timing) {}

    // True for the first caller with this name, false for every later one.
    bool claim(const std::string& episodeName);
    bool isClaimed(const std::string& episodeName);
    // The race of this episode's sources: the same one for every source that lives at a time.
    std::shared_ptr<EpisodeRace> raceFor(const std::string& episodeName);

private:
    const EpisodeRace::Timing timing_;
    std::mutex mutex_;
    std::set<std::string> claimed_;
    std::map<std::string, std::weak_ptr<EpisodeRace>> races_;
};

}  // namespace kestrova
