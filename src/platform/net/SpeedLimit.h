#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

namespace kestrova {

// The speed limit that all transfers share: a token bucket refilled at bytesPerSecond and
// holding at most a quarter of a second's worth. Transfers spend what they received; while the
// bucket is below empty they hold their connections paused, so that the sum of all of them keeps
// to the limit. Safe from any thread.
class SpeedLimit {
public:
    using Clock = std::chrono::steady_clock;

    explicit SpeedLimit(std::int64_t bytesPerSecond);

    std::int64_t bytesPerSecond() const { return rate_; }
    // Bytes just received; the bucket may go below empty.
    void spend(std::int64_t bytes);
    // How long until the bucket is no longer below empty: zero when more may come now.
    std::chrono::milliseconds delay();

private:
    void refill(Clock::time_point now);  // with mutex_ held

    const std::int64_t rate_;
    const double capacity_;
    std::mutex mutex_;
    double tokens_ = 0;
    Clock::time_point refilled_ = Clock::now();
};

}  // namespace kestrova
