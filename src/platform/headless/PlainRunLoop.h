#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>

#include "platform/RunLoop.h"

namespace kestrova {

// A run loop of its own for the headless mode and the tests: one thread waits on a condition
// variable for the next timer deadline or posted task.
class PlainRunLoop : public RunLoop {
public:
    TimerId addTimer(std::chrono::milliseconds interval, RunLoopMode mode, Task fire) override;
    void removeTimer(TimerId id) override;
    void post(Task task) override;
    int run() override;
    void quit(int exitCode) override;
    void beginModal() override;
    void endModal() override;

private:
    using Clock = std::chrono::steady_clock;
    struct Timer {
        std::chrono::milliseconds interval;
        RunLoopMode mode;
        Task fire;
        Clock::time_point due;
    };
    // Picks the next thing to run, or waits for one; false when the loop should end.
    bool takeNext(std::unique_lock<std::mutex>& lock, Task& task);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> tasks_;
    std::map<TimerId, Timer> timers_;
    TimerId nextId_ = 1;
    int modalDepth_ = 0;
    bool quitting_ = false;
    int exitCode_ = 0;
};

}  // namespace kestrova
