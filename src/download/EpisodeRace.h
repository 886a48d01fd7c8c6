#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

namespace kestrova {

// The sources of one episode racing so that the link carries about one file. Each source whose
// response promises a usable file joins; after a short probe the fastest runs on and the others
// wait (their connections closed, their partial files kept). A waiting source takes over,
// resuming its own file, when the leader leaves (fails, or its file is unsuitable), stalls, or
// slows to a fraction of the pace it showed. Safe from the sources' threads.
class EpisodeRace {
public:
    using Clock = std::chrono::steady_clock;
    // Run: the probe goes on; Lead: the probe is over and this source leads; Wait.
    enum class Turn { Run, Lead, Wait };

    struct Timing {
        // The probe ends when every source has this much or probeLongest has passed, and not
        // before probeShortest.
        std::chrono::milliseconds probeShortest{250};
        std::chrono::milliseconds probeLongest{1500};
        std::int64_t probeBytes = 512 * 1024;
        // A leader with nothing new for this long has stalled.
        std::chrono::milliseconds leaderStall{10'000};
        // A leader slower than this share of its probe pace over slowWindow is replaced.
        double slowShare = 0.25;
        std::chrono::milliseconds slowWindow{5'000};
    };

    EpisodeRace() : EpisodeRace(Timing()) {}
    explicit EpisodeRace(Timing timing) : timing_(timing) {}

    // A source whose response promises a usable file takes part.
    void join(const void* source, Clock::time_point now);
    // Its bytes so far: whether it runs on, leads or has to wait.
    Turn report(const void* source, std::int64_t bytes, Clock::time_point now);
    // A waiting source blocks here until it may run again (true: resume its file) or its
    // operation was cancelled (false; wake() tells of it).
    bool waitForTurn(const void* source, const std::function<bool()>& cancelled);
    void wake();
    // A source ended (won, failed, unsuitable, cancelled): a waiting one may take over.
    void leave(const void* source);

private:
    struct Source {
        Clock::time_point joined;
        std::int64_t bytes = 0;
        double pace = 0;  // bytes per second during the probe
        Clock::time_point lastProgress;
        std::int64_t windowBytes = 0;  // the leader's bytes at windowStart
        Clock::time_point windowStart;
    };

    // With mutex_ held.
    void decide(Clock::time_point now);
    bool probeOver(Clock::time_point now) const;
    void promoteBest(const void* except, Clock::time_point now);
    bool leaderSlowed(Source& leader, Clock::time_point now) const;

    const Timing timing_;
    std::mutex mutex_;
    std::condition_variable turn_;
    std::map<const void*, Source> sources_;
    std::optional<Clock::time_point> firstJoined_;
    bool decided_ = false;
    const void* leader_ = nullptr;
};

}  // namespace kestrova
