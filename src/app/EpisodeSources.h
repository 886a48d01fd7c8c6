#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

namespace kestrova {

// Lets at most kAtOnce sources of one episode into the operation queue; the others wait here,
// holding no queue slot, until one of them ends. A page offering a hundred slow sources then
// cannot fill the queue, and other episodes and manual downloads start at once. Sources still
// waiting when their episode has a winner are dropped. Safe from any thread.
class EpisodeSources {
public:
    static constexpr std::size_t kAtOnce = 3;
    using Start = std::function<void()>;

    // Starts the source now (outside the lock) or when a place frees up.
    void add(const std::string& episode, Start start);
    // The same for a source continued from the last run: until it ends, a request for its
    // address (a scan finding the episode again) is not a source of its own.
    void addResumed(const std::string& episode, const std::string& url, Start start);
    bool isResuming(const std::string& episode, const std::string& url);
    // A source of the episode ended: the next waiting one starts, unless the episode is won.
    void ended(const std::string& episode, bool won, const std::string& url = {});
    // Drops every waiting source (quitting).
    void clear();

private:
    struct Episode {
        std::size_t running = 0;
        std::deque<Start> waiting;
        std::set<std::string> resuming;  // addresses
    };

    std::mutex mutex_;
    std::map<std::string, Episode> episodes_;
};

}  // namespace kestrova
