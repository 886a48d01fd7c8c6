#include "platform/runtime/Operation.h"

#include <algorithm>

namespace kestrova {

void Operation::cancel() { cancelled_ = true; }

void Operation::waitUntilFinished() {
    std::unique_lock lock(mutex_);
    finishedChanged_.wait(lock, [this] { return finishAnnounced_; });
}

void Operation::addObserver(KeyValueObserver* observer, const std::string& keyPath) {
    std::lock_guard lock(mutex_);
    observers_.emplace_back(observer, keyPath);
}

void Operation::removeObserver(KeyValueObserver* observer, const std::string& keyPath) {
    std::lock_guard lock(mutex_);
    const auto it = std::find(observers_.begin(), observers_.end(), std::pair(observer, keyPath));
    if (it != observers_.end()) observers_.erase(it);
}

void Operation::setValueForKey(const std::string& key, bool value) {
    if (key == kIsExecuting) {
        executing_ = value;
    } else if (key == kIsFinished) {
        finished_ = value;
    } else {
        return;
    }
    // Observers are called without the lock: the usual observer stops observing from inside
    // its callback.
    std::vector<KeyValueObserver*> targets;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [observer, keyPath] : observers_) {
            if (keyPath == key) targets.push_back(observer);
        }
    }
    for (KeyValueObserver* observer : targets) observer->observeValueForKeyPath(key, *this, value);
    if (key == kIsFinished && value) {
        // Waiters (the queue) may let go of the operation once they wake, so they are woken
        // only after every observer has been told.
        std::lock_guard lock(mutex_);
        finishAnnounced_ = true;
        finishedChanged_.notify_all();
    }
}

}  // namespace kestrova
