#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>

namespace kestrova::bench {

// A shared link for the benchmarks' servers: a token bucket of bytesPerSecond that every byte
// any connection sends takes its token from. Safe from any thread.
class Link {
public:
    using Clock = std::chrono::steady_clock;

    explicit Link(double bytesPerSecond) : rate_(bytesPerSecond) {}

    // Waits until n bytes may go out.
    void take(std::size_t n) {
        std::unique_lock lock(mutex_);
        for (;;) {
            const auto now = Clock::now();
            tokens_ = std::min(
                kBurst, tokens_ + rate_ * std::chrono::duration<double>(now - refilled_).count());
            refilled_ = now;
            if (tokens_ >= static_cast<double>(n)) {
                tokens_ -= static_cast<double>(n);
                sent_ += n;
                return;
            }
            const double missing = static_cast<double>(n) - tokens_;
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::duration<double>(missing / rate_));
            lock.lock();
        }
    }
    std::uint64_t sent() {
        std::lock_guard lock(mutex_);
        return sent_;
    }

private:
    static constexpr double kBurst = 64 * 1024;
    const double rate_;
    std::mutex mutex_;
    double tokens_ = 0;
    Clock::time_point refilled_ = Clock::now();
    std::uint64_t sent_ = 0;
};

}  // namespace kestrova::bench
