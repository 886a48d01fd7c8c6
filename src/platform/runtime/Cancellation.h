#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

namespace kestrova {

// A one-way switch that tells long waits to give up: quitting throws it, and every blocking
// fetch of a page or a list watches it. cancel() may come from any thread (the signal watcher,
// the main thread); each registered wake-up runs once, so a fetch asleep in poll() returns at
// once instead of after its timeout.
//
//   Cancellation::Wake wake(cancellation, [&] { curl_multi_wakeup(multi); });
//   while (!cancellation.isCancelled()) ... poll ...
class Cancellation {
public:
    Cancellation() = default;
    Cancellation(const Cancellation&) = delete;
    Cancellation& operator=(const Cancellation&) = delete;

    void cancel();
    bool isCancelled() const { return cancelled_.load(std::memory_order_acquire); }

    // A wake-up registered for as long as this object lives. It runs on the cancelling thread,
    // at once when the switch is already thrown; once the destructor has returned it never runs
    // again, so it may refer to what its owner destroys next.
    class Wake {
    public:
        Wake(Cancellation& cancellation, std::function<void()> wake);
        ~Wake();
        Wake(const Wake&) = delete;
        Wake& operator=(const Wake&) = delete;

    private:
        Cancellation& cancellation_;
        std::uint64_t id_;
    };

private:
    std::atomic<bool> cancelled_{false};
    std::mutex mutex_;  // wakes_ and nextId_; held while a wake-up runs
    std::map<std::uint64_t, std::function<void()>> wakes_;
    std::uint64_t nextId_ = 1;
};

}  // namespace kestrova
