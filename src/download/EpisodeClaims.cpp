#include "download/EpisodeClaims.h"

namespace kestrova {

bool EpisodeClaims::claim(const std::string& episodeName) {
    std::lock_guard lock(mutex_);
    return claimed_.insert(episodeName).second;
}

}  // namespace kestrova
