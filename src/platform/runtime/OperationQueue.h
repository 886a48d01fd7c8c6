#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/runtime/Operation.h"

namespace kestrova {

// Runs operations, each on a thread of its own, at most maxConcurrentOperationCount at once;
// the rest wait in order. The queue holds each operation until its start() has returned and its
// "isFinished" has been announced, then lets go of it on the worker thread. Threads of finished
// operations are joined as later ones finish or are added.
// Destroying the queue cancels what is left and waits for the worker threads.
class OperationQueue {
public:
    OperationQueue() = default;
    ~OperationQueue();
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    void setMaxConcurrentOperationCount(std::size_t count);
    void addOperation(std::shared_ptr<Operation> operation);
    // Cancels every waiting and running operation.
    void cancelAllOperations();
    // Blocks until no operation is waiting or running.
    void waitUntilAllOperationsAreFinished();

private:
    // The callers hold mutex_.
    void launchWaiting();
    std::vector<std::thread> takeFinishedThreads();

    void runOne(std::shared_ptr<Operation> operation);

    std::mutex mutex_;
    std::condition_variable idle_;
    std::size_t maxConcurrent_ = 100;
    std::size_t running_ = 0;
    std::deque<std::shared_ptr<Operation>> waiting_;
    std::vector<std::shared_ptr<Operation>> active_;
    std::unordered_map<std::thread::id, std::thread> threads_;
    std::vector<std::thread::id> finishedThreads_;  // done with their work, not yet joined
};

}  // namespace kestrova
