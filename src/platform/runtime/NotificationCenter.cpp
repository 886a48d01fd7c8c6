#include "platform/runtime/NotificationCenter.h"

#include <algorithm>
#include <condition_variable>
#include <thread>

namespace kestrova {

// One observer's registration for one name. Deliveries in progress are counted per thread so a
// removal can wait for those on other threads while ignoring its own.
struct NotificationCenter::Registration {
    const void* observer;
    Handler handler;
    std::mutex mutex;
    std::condition_variable idle;
    bool removed = false;
    std::vector<std::thread::id> delivering;
};

void NotificationCenter::addObserver(const void* observer, const std::string& name,
                                     Handler handler) {
    auto registration = std::make_shared<Registration>();
    registration->observer = observer;
    registration->handler = std::move(handler);
    std::lock_guard lock(mutex_);
    byName_[name].push_back(std::move(registration));
}

void NotificationCenter::removeObserver(const void* observer) {
    std::vector<RegistrationPtr> taken;
    {
        std::lock_guard lock(mutex_);
        for (auto& [name, list] : byName_) {
            auto split = std::stable_partition(
                list.begin(), list.end(), [&](const auto& r) { return r->observer != observer; });
            taken.insert(taken.end(), split, list.end());
            list.erase(split, list.end());
        }
    }
    const auto self = std::this_thread::get_id();
    for (const auto& registration : taken) {
        std::unique_lock lock(registration->mutex);
        registration->removed = true;
        registration->idle.wait(lock, [&] {
            return std::all_of(registration->delivering.begin(), registration->delivering.end(),
                               [&](std::thread::id id) { return id == self; });
        });
    }
}

void NotificationCenter::post(const std::string& name, const PlistValue& object) {
    std::vector<RegistrationPtr> targets;
    {
        std::lock_guard lock(mutex_);
        auto it = byName_.find(name);
        if (it == byName_.end()) return;
        targets = it->second;
    }
    const auto self = std::this_thread::get_id();
    for (const auto& registration : targets) {
        {
            std::lock_guard lock(registration->mutex);
            if (registration->removed) continue;
            registration->delivering.push_back(self);
        }
        registration->handler(object);
        {
            std::lock_guard lock(registration->mutex);
            auto& d = registration->delivering;
            d.erase(std::find(d.begin(), d.end(), self));
        }
        registration->idle.notify_all();
    }
}

}  // namespace kestrova
