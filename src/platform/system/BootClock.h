#pragma once

#include <chrono>

namespace kestrova {

// A clock that keeps counting while the machine is suspended (CLOCK_BOOTTIME), so that "30
// minutes since the last scan" still holds after a night in suspend, when a steady clock stood
// still.
class BootClock {
public:
    static std::chrono::milliseconds now();
};

}  // namespace kestrova
