#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/runtime/KeyValueObserver.h"

namespace kestrova {

// The base of a queued operation. A subclass runs its work in start() on a thread of the
// operation queue and keeps its own "isExecuting" / "isFinished" flags, which it changes only
// through setValueForKey() so that observers of the key are told.
class Operation {
public:
    static constexpr const char* kIsExecuting = "isExecuting";
    static constexpr const char* kIsFinished = "isFinished";

    virtual ~Operation() = default;
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    // Called once by the queue on its worker thread.
    virtual void start() = 0;
    // May come from any thread, in any state; the base sets the cancelled mark.
    virtual void cancel();
    virtual bool isConcurrent() const { return true; }

    bool isExecuting() const { return executing_.load(); }
    bool isFinished() const { return finished_.load(); }
    bool isCancelled() const { return cancelled_.load(); }
    // Blocks until "isFinished" is true and its observers have been told.
    void waitUntilFinished();

    void addObserver(KeyValueObserver* observer, const std::string& keyPath);
    void removeObserver(KeyValueObserver* observer, const std::string& keyPath);

protected:
    Operation() = default;
    // Stores the value of "isExecuting" or "isFinished", then tells that key's observers on
    // this thread before returning.
    void setValueForKey(const std::string& key, bool value);

private:
    std::atomic<bool> executing_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> cancelled_{false};
    std::mutex mutex_;  // observers_ and finishAnnounced_
    std::condition_variable finishedChanged_;
    bool finishAnnounced_ = false;
    std::vector<std::pair<KeyValueObserver*, std::string>> observers_;
};

}  // namespace kestrova
