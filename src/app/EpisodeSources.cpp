#include "app/EpisodeSources.h"

namespace kestrova {

void EpisodeSources::add(const std::string& episode, Start start) {
    {
        std::lock_guard lock(mutex_);
        Episode& sources = episodes_[episode];
        if (sources.running >= kAtOnce) {
            sources.waiting.push_back(std::move(start));
            return;
        }
        ++sources.running;
    }
    start();
}

void EpisodeSources::addResumed(const std::string& episode, const std::string& url, Start start) {
    {
        std::lock_guard lock(mutex_);
        episodes_[episode].resuming.insert(url);
    }
    add(episode, std::move(start));
}

bool EpisodeSources::isResuming(const std::string& episode, const std::string& url) {
    std::lock_guard lock(mutex_);
    const auto found = episodes_.find(episode);
    return found != episodes_.end() && found->second.resuming.count(url) > 0;
}

void EpisodeSources::ended(const std::string& episode, bool won, const std::string& url) {
    Start next;
    {
        std::lock_guard lock(mutex_);
        const auto found = episodes_.find(episode);
        if (found == episodes_.end()) return;
        Episode& sources = found->second;
        sources.resuming.erase(url);
        if (won) sources.waiting.clear();
        if (sources.waiting.empty()) {
            if (--sources.running == 0) episodes_.erase(found);
            return;
        }
        next = std::move(sources.waiting.front());
        sources.waiting.pop_front();
    }
    next();
}

void EpisodeSources::clear() {
    std::lock_guard lock(mutex_);
    episodes_.clear();
}

}  // namespace kestrova
