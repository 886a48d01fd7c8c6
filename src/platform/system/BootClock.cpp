#include "platform/system/BootClock.h"

#include <time.h>

namespace kestrova {

std::chrono::milliseconds BootClock::now() {
    timespec time{};
    clock_gettime(CLOCK_BOOTTIME, &time);
    return std::chrono::seconds(time.tv_sec) +
           std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::nanoseconds(time.tv_nsec));
}

}  // namespace kestrova
