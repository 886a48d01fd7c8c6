#pragma once

#include <chrono>
#include <optional>

namespace kestrova {

// When the next scan of the video site is due, on a clock that counts suspended time: 30
// minutes after the last scan began; after a scan that could not fetch the list (no network
// yet, say at login), again after 1 minute, then 2, 4 ... up to the same 30.
class ScanSchedule {
public:
    using Time = std::chrono::milliseconds;
    static constexpr Time kInterval = std::chrono::minutes(30);
    static constexpr Time kFirstRetry = std::chrono::minutes(1);

    bool due(Time now) const { return !last_ || now >= *last_ + wait_; }
    void started(Time now) { last_ = now; }
    // The list fetch of the scan that began last succeeded or failed.
    void finished(bool listFetched);

private:
    std::optional<Time> last_;  // when the last scan began
    Time wait_ = kInterval;
    int failures_ = 0;  // in a row
};

}  // namespace kestrova
