#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/plist/PlistValue.h"
#include "platform/runtime/NotificationCenter.h"

namespace kestrova::test {

// Every object posted under one name, in order, from any thread, while it lives.
class NotificationRecorder {
public:
    NotificationRecorder(NotificationCenter& center, const std::string& name) : center_(center) {
        center_.addObserver(this, name, [this](const PlistValue& object) {
            std::lock_guard lock(mutex_);
            objects_.push_back(object);
        });
    }
    ~NotificationRecorder() { center_.removeObserver(this); }

    std::vector<PlistValue> objects() const {
        std::lock_guard lock(mutex_);
        return objects_;
    }
    // key's string in every object (or the objects themselves when key is "").
    std::vector<std::string> strings(const std::string& key = "") const {
        std::vector<std::string> out;
        for (const auto& object : objects()) {
            out.push_back(key.empty() ? object.asString() ? *object.asString() : ""
                                      : object.stringFor(key));
        }
        return out;
    }

private:
    NotificationCenter& center_;
    mutable std::mutex mutex_;
    std::vector<PlistValue> objects_;
};

}  // namespace kestrova::test
