#pragma once

#include <string>

namespace kestrova {

class Operation;

// Told when an observed key of an operation changes, on the thread that changed it, after the
// new value is stored.
class KeyValueObserver {
public:
    virtual ~KeyValueObserver() = default;
    virtual void observeValueForKeyPath(const std::string& keyPath, Operation& object,
                                        bool newValue) = 0;
};

}  // namespace kestrova
