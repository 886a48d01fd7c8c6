#include "app/ScanSchedule.h"

#include <algorithm>

namespace kestrova {

void ScanSchedule::finished(bool listFetched) {
    if (listFetched) {
        failures_ = 0;
        wait_ = kInterval;
        return;
    }
    // 1, 2, 4 ... minutes: the shift stops growing long before it could overflow.
    wait_ = std::min<Time>(kInterval, kFirstRetry * (1LL << std::min(failures_, 10)));
    ++failures_;
}

}  // namespace kestrova
