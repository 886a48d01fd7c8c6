#pragma once

#include <functional>
#include <thread>

namespace kestrova {

// Turns SIGINT and SIGTERM into a call on the main run loop. blockSignals() must run in main()
// before any thread starts, so that only this watcher's thread receives them.
class SignalWatcher {
public:
    static void blockSignals();
    // onSignal runs on the watcher's thread; post it to the main thread from there.
    explicit SignalWatcher(std::function<void()> onSignal);
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

private:
    std::thread thread_;
};

}  // namespace kestrova
