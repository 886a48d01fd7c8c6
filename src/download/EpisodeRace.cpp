#include "download/EpisodeRace.h"

namespace kestrova {

void EpisodeRace::join(const void* source, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    if (!firstJoined_) firstJoined_ = now;
    sources_[source] = Source{now, 0, 0, now, 0, now};
    // Joining after the probe: the leader runs on and this one waits its turn.
    if (decided_ && leader_ == nullptr) leader_ = source;
}

EpisodeRace::Turn EpisodeRace::report(const void* source, std::int64_t bytes,
                                      Clock::time_point now) {
    std::lock_guard lock(mutex_);
    const auto found = sources_.find(source);
    if (found == sources_.end()) return Turn::Run;
    Source& me = found->second;
    me.bytes = bytes;
    me.lastProgress = now;
    if (!decided_) {
        if (!probeOver(now)) return Turn::Run;
        decide(now);
    }
    if (source != leader_) return Turn::Wait;
    if (leaderSlowed(me, now)) {
        const void* before = leader_;
        promoteBest(source, now);
        if (leader_ != before) return Turn::Wait;
    }
    return Turn::Lead;
}

bool EpisodeRace::probeOver(Clock::time_point now) const {
    const auto elapsed = now - *firstJoined_;
    if (elapsed < timing_.probeShortest) return false;
    if (elapsed >= timing_.probeLongest) return true;
    for (const auto& [source, state] : sources_) {
        if (state.bytes < timing_.probeBytes) return false;
    }
    return true;
}

// The probe is over: each source's pace is what it showed, and the fastest leads.
void EpisodeRace::decide(Clock::time_point now) {
    decided_ = true;
    for (auto& [source, state] : sources_) {
        const double seconds = std::chrono::duration<double>(now - state.joined).count();
        state.pace = seconds > 0 ? static_cast<double>(state.bytes) / seconds : 0;
    }
    promoteBest(nullptr, now);
}

// The fastest source but except leads from now; the others are told to wait.
void EpisodeRace::promoteBest(const void* except, Clock::time_point now) {
    const void* best = nullptr;
    double bestPace = -1;
    for (const auto& [source, state] : sources_) {
        if (source != except && state.pace > bestPace) {
            best = source;
            bestPace = state.pace;
        }
    }
    if (best == nullptr) return;
    leader_ = best;
    Source& leader = sources_[best];
    leader.lastProgress = now;
    leader.windowStart = now;
    leader.windowBytes = leader.bytes;
    turn_.notify_all();
}

// Whether the leader's pace over the last window fell below its share of the probe pace; starts
// the next window when this one is over.
bool EpisodeRace::leaderSlowed(Source& leader, Clock::time_point now) const {
    if (now - leader.windowStart < timing_.slowWindow || sources_.size() < 2) return false;
    const double seconds = std::chrono::duration<double>(now - leader.windowStart).count();
    const double pace = static_cast<double>(leader.bytes - leader.windowBytes) / seconds;
    leader.windowStart = now;
    leader.windowBytes = leader.bytes;
    return pace < timing_.slowShare * leader.pace;
}

bool EpisodeRace::waitForTurn(const void* source, const std::function<bool()>& cancelled) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (cancelled()) return false;
        if (leader_ == source) return true;
        // A leader that went silent hands over to the best of those waiting.
        const auto leader = sources_.find(leader_);
        const auto now = Clock::now();
        if (leader != sources_.end() && now - leader->second.lastProgress >= timing_.leaderStall) {
            promoteBest(leader_, now);
            continue;
        }
        turn_.wait_for(lock, std::chrono::seconds(1));
    }
}

void EpisodeRace::wake() {
    std::lock_guard lock(mutex_);
    turn_.notify_all();
}

void EpisodeRace::leave(const void* source) {
    std::lock_guard lock(mutex_);
    sources_.erase(source);
    if (leader_ == source) {
        leader_ = nullptr;
        promoteBest(nullptr, Clock::now());
    }
    turn_.notify_all();
}

}  // namespace kestrova
