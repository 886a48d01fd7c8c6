#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace kestrova {

// Which timers fire while a modal alert is up: default-mode timers are held until it closes and
// then fire once; common-mode timers go on.
enum class RunLoopMode { Default, Common };

// The main thread's run loop: repeating timers, work posted from other threads, and the modal
// state that holds default-mode timers. Everything but post() and quit() is for the main thread.
class RunLoop {
public:
    using TimerId = std::uint64_t;
    using Task = std::function<void()>;

    virtual ~RunLoop() = default;
    virtual TimerId addTimer(std::chrono::milliseconds interval, RunLoopMode mode, Task fire) = 0;
    virtual void removeTimer(TimerId id) = 0;
    // Runs task on the main thread soon. Safe from any thread.
    virtual void post(Task task) = 0;
    // Runs until quit(); answers the exit code given to quit().
    virtual int run() = 0;
    // Safe from any thread.
    virtual void quit(int exitCode) = 0;
    // A modal alert opened or closed (they nest).
    virtual void beginModal() = 0;
    virtual void endModal() = 0;
};

}  // namespace kestrova
