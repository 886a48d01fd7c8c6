#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace kestrova {

// Runs the scans of the video site one at a time on a thread of their own, so that the menu,
// the clipboard and quitting stay responsive while pages and lists trickle in. start() and
// wait() are for the main thread.
class ScanThread {
public:
    ScanThread() = default;
    ~ScanThread() { wait(); }
    ScanThread(const ScanThread&) = delete;
    ScanThread& operator=(const ScanThread&) = delete;

    // Starts scan unless the previous one is still running; answers whether it started.
    bool start(std::function<void()> scan);
    // Returns once no scan runs.
    void wait();

private:
    std::thread thread_;
    std::atomic<bool> running_{false};
};

}  // namespace kestrova
