#pragma once

#include "platform/PowerEvents.h"

namespace kestrova {

// Without a desktop session there is no one to tell of a wake-up: the scan schedule's clock,
// which counts suspended time, is enough.
class HeadlessPowerEvents : public PowerEvents {
public:
    void whenResumed(std::function<void()> /*resumed*/) override {}
};

}  // namespace kestrova
