#include "platform/runtime/Cancellation.h"

namespace kestrova {

void Cancellation::cancel() {
    std::lock_guard lock(mutex_);
    if (cancelled_.exchange(true, std::memory_order_acq_rel)) return;
    for (auto& [id, wake] : wakes_) wake();
}

Cancellation::Wake::Wake(Cancellation& cancellation, std::function<void()> wake)
    : cancellation_(cancellation) {
    std::lock_guard lock(cancellation_.mutex_);
    id_ = cancellation_.nextId_++;
    if (cancellation_.isCancelled()) {
        wake();
        return;
    }
    cancellation_.wakes_.emplace(id_, std::move(wake));
}

// Taking the lock waits for a cancel() that is running this wake-up on another thread.
Cancellation::Wake::~Wake() {
    std::lock_guard lock(cancellation_.mutex_);
    cancellation_.wakes_.erase(id_);
}

}  // namespace kestrova
