#include "platform/net/SpeedLimit.h"

#include <algorithm>
#include <cmath>

namespace kestrova {

SpeedLimit::SpeedLimit(std::int64_t bytesPerSecond)
    : rate_(std::max<std::int64_t>(bytesPerSecond, 1)),
      capacity_(std::max(static_cast<double>(rate_) / 4, 16.0 * 1024)) {}

void SpeedLimit::spend(std::int64_t bytes) {
    std::lock_guard lock(mutex_);
    refill(Clock::now());
    tokens_ -= static_cast<double>(bytes);
}

std::chrono::milliseconds SpeedLimit::delay() {
    std::lock_guard lock(mutex_);
    refill(Clock::now());
    if (tokens_ >= 0) return std::chrono::milliseconds(0);
    return std::chrono::milliseconds(
        static_cast<std::int64_t>(std::ceil(-tokens_ * 1000 / static_cast<double>(rate_))));
}

void SpeedLimit::refill(Clock::time_point now) {
    const double seconds = std::chrono::duration<double>(now - refilled_).count();
    tokens_ = std::min(capacity_, tokens_ + seconds * static_cast<double>(rate_));
    refilled_ = now;
}

}  // namespace kestrova
