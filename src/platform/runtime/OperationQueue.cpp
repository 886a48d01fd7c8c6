#include "platform/runtime/OperationQueue.h"

#include <algorithm>
#include <system_error>

namespace kestrova {

OperationQueue::~OperationQueue() {
    cancelAllOperations();
    std::vector<std::thread> threads;
    {
        // Cancelled operations that were still waiting are started and end at once.
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [this] { return waiting_.empty() && running_ == 0; });
        for (auto& [id, thread] : threads_) threads.push_back(std::move(thread));
        threads_.clear();
        finishedThreads_.clear();
    }
    for (auto& thread : threads) thread.join();
}

void OperationQueue::setMaxConcurrentOperationCount(std::size_t count) {
    std::lock_guard lock(mutex_);
    maxConcurrent_ = std::max<std::size_t>(count, 1);
    launchWaiting();
}

void OperationQueue::addOperation(std::shared_ptr<Operation> operation) {
    if (!operation) return;
    std::vector<std::thread> finished;
    {
        std::lock_guard lock(mutex_);
        finished = takeFinishedThreads();
        waiting_.push_back(std::move(operation));
        launchWaiting();
    }
    for (auto& thread : finished) thread.join();
}

void OperationQueue::cancelAllOperations() {
    std::vector<std::shared_ptr<Operation>> all;
    {
        std::lock_guard lock(mutex_);
        all.reserve(waiting_.size() + active_.size());
        for (const auto& operation : waiting_) all.push_back(operation);
        for (const auto& operation : active_) all.push_back(operation);
    }
    // Without the lock: a cancel announces "isFinished", whose observers may call back here.
    // The copies keep every operation alive until its cancel has returned.
    for (const auto& operation : all) operation->cancel();
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return waiting_.empty() && running_ == 0; });
}

void OperationQueue::launchWaiting() {
    while (running_ < maxConcurrent_ && !waiting_.empty()) {
        std::shared_ptr<Operation> operation = waiting_.front();
        try {
            std::thread thread(&OperationQueue::runOne, this, operation);
            const auto id = thread.get_id();
            threads_.emplace(id, std::move(thread));
        } catch (const std::system_error&) {
            // No thread to be had now: the operation keeps its place and is started when a
            // running one finishes or another is added.
            return;
        }
        waiting_.pop_front();
        active_.push_back(std::move(operation));
        ++running_;
    }
}

std::vector<std::thread> OperationQueue::takeFinishedThreads() {
    std::vector<std::thread> finished;
    for (const auto id : finishedThreads_) {
        const auto it = threads_.find(id);
        if (it == threads_.end()) continue;
        finished.push_back(std::move(it->second));
        threads_.erase(it);
    }
    finishedThreads_.clear();
    return finished;
}

void OperationQueue::runOne(std::shared_ptr<Operation> operation) {
    operation->start();
    // A cancel on another thread can end start() a moment before it has announced
    // "isFinished"; the queue holds the operation until then.
    operation->waitUntilFinished();
    {
        std::lock_guard lock(mutex_);
        active_.erase(std::find(active_.begin(), active_.end(), operation));
    }
    // The operation's teardown, if this was the last holder, runs here without the lock.
    operation.reset();

    std::vector<std::thread> finished;
    {
        std::lock_guard lock(mutex_);
        finished = takeFinishedThreads();
        finishedThreads_.push_back(std::this_thread::get_id());
        --running_;
        launchWaiting();
        idle_.notify_all();
    }
    for (auto& thread : finished) thread.join();
}

}  // namespace kestrova
