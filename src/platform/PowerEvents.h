#pragma once

#include <functional>

namespace kestrova {

// Tells when the machine has woken from suspend (the desktop backend listens to logind's
// PrepareForSleep); the headless backend never does, and the scan schedule's clock still counts
// the suspended time.
class PowerEvents {
public:
    virtual ~PowerEvents() = default;
    // resumed runs on the main thread after each wake-up; an empty function stops it.
    virtual void whenResumed(std::function<void()> resumed) = 0;
};

}  // namespace kestrova
