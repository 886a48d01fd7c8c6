#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/plist/PlistValue.h"

namespace kestrova {

// The process-wide notification center: named notifications with at most one object, delivered
// synchronously on the posting thread to every observer of the name, before post() returns.
//
// Observers are identified by an owner pointer (usually `this`) and are registered without a
// sender filter. removeObserver() drops every registration of that owner. Once it has returned
// the owner's handlers are never called again: a removal racing a post on another thread waits
// until that delivery has finished, except a delivery running on the removing thread itself, so
// an observer may remove itself or another observer from inside a delivery.
class NotificationCenter {
public:
    using Handler = std::function<void(const PlistValue& object)>;

    NotificationCenter() = default;
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    void addObserver(const void* observer, const std::string& name, Handler handler);
    void removeObserver(const void* observer);
    void post(const std::string& name, const PlistValue& object = PlistValue());

private:
    struct Registration;
    using RegistrationPtr = std::shared_ptr<Registration>;

    std::mutex mutex_;
    std::unordered_map<std::string, std::vector<RegistrationPtr>> byName_;
};

}  // namespace kestrova
