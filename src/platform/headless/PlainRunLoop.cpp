#include "platform/headless/PlainRunLoop.h"

#include <algorithm>

namespace kestrova {

RunLoop::TimerId PlainRunLoop::addTimer(std::chrono::milliseconds interval, RunLoopMode mode,
                                        Task fire) {
    std::lock_guard lock(mutex_);
    const TimerId id = nextId_++;
    interval = std::max(interval, std::chrono::milliseconds(1));
    timers_.emplace(id, Timer{interval, mode, std::move(fire), Clock::now() + interval});
    wake_.notify_all();
    return id;
}

void PlainRunLoop::removeTimer(TimerId id) {
    std::lock_guard lock(mutex_);
    timers_.erase(id);
}

void PlainRunLoop::post(Task task) {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    wake_.notify_all();
}

void PlainRunLoop::quit(int exitCode) {
    std::lock_guard lock(mutex_);
    quitting_ = true;
    exitCode_ = exitCode;
    wake_.notify_all();
}

void PlainRunLoop::beginModal() {
    std::lock_guard lock(mutex_);
    ++modalDepth_;
}

void PlainRunLoop::endModal() {
    std::lock_guard lock(mutex_);
    if (modalDepth_ > 0) --modalDepth_;
    wake_.notify_all();
}

bool PlainRunLoop::takeNext(std::unique_lock<std::mutex>& lock, Task& task) {
    for (;;) {
        if (quitting_) return false;
        if (!tasks_.empty()) {
            task = std::move(tasks_.front());
            tasks_.pop_front();
            return true;
        }
        const auto now = Clock::now();
        auto next = Clock::time_point::max();
        for (auto& [id, timer] : timers_) {
            // A held default-mode timer stays due and fires once the modal state ends.
            if (timer.mode == RunLoopMode::Default && modalDepth_ > 0) continue;
            if (timer.due <= now) {
                // Like a repeating timer that missed beats: fire once, then keep the rhythm.
                while (timer.due <= now) timer.due += timer.interval;
                task = timer.fire;
                return true;
            }
            next = std::min(next, timer.due);
        }
        if (next == Clock::time_point::max()) {
            wake_.wait(lock);
        } else {
            wake_.wait_until(lock, next);
        }
    }
}

int PlainRunLoop::run() {
    std::unique_lock lock(mutex_);
    Task task;
    while (takeNext(lock, task)) {
        lock.unlock();
        task();
        task = nullptr;
        lock.lock();
    }
    // One quit ends one run: the loop may be run again, as a nested or later loop would be.
    quitting_ = false;
    return exitCode_;
}

}  // namespace kestrova
