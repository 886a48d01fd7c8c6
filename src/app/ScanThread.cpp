#include "app/ScanThread.h"

namespace kestrova {

bool ScanThread::start(std::function<void()> scan) {
    if (running_.load(std::memory_order_acquire)) return false;
    wait();  // the previous thread has finished its work; collect it
    running_.store(true, std::memory_order_release);
    thread_ = std::thread([this, scan = std::move(scan)] {
        scan();
        running_.store(false, std::memory_order_release);
    });
    return true;
}

void ScanThread::wait() {
    if (thread_.joinable()) thread_.join();
}

}  // namespace kestrova
