#include "download/EpisodeClaims.h"

namespace kestrova {

bool EpisodeClaims::claim(const std::string& episodeName) {
    std::lock_guard lock(mutex_);
    return claimed_.insert(episodeName).second;
}

bool EpisodeClaims::isClaimed(const std::string& episodeName) {
    std::lock_guard lock(mutex_);
    return claimed_.count(episodeName) != 0;
}

std::shared_ptr<EpisodeRace> EpisodeClaims::raceFor(const std::string& episodeName) {
    std::lock_guard lock(mutex_);
    std::erase_if(races_, [](const auto& entry) { return entry.second.expired(); });
    std::weak_ptr<EpisodeRace>& slot = races_[episodeName];
    std::shared_ptr<EpisodeRace> race = slot.lock();
    if (!race) {
        race = std::make_shared<EpisodeRace>(timing_);
        slot = race;
    }
    return race;
}

}  // namespace kestrova
