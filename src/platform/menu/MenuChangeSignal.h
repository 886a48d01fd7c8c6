#pragma once

#include <functional>

namespace kestrova {

// Shared by a status item and every menu and item below it: the renderer sets the listener and
// is told after each change of the model. Main thread only.
struct MenuChangeSignal {
    std::function<void()> listener;
    void fire() const {
        if (listener) listener();
    }
};

}  // namespace kestrova
