// The operation queue with operations that run until the test lets them go (also under TSan).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/runtime/KeyValueObserver.h"
#include "platform/runtime/OperationQueue.h"
#include "support/Wait.h"

namespace kestrova {
namespace {

// Counts how many operations run at once and in which order they began.
struct Board {
    std::mutex mutex;
    std::vector<int> started;
    int running = 0;
    int mostAtOnce = 0;
};

// Runs until release() or cancel(). Like Kestrova's downloads it ends at once when the queue
// starts it after a cancel, and it is "finished" as soon as it is cancelled.
class GateOperation : public Operation {
public:
    GateOperation(Board& board, int number) : board_(board), number_(number) {}

    void start() override {
        {
            std::lock_guard lock(mutex_);
            if (ended_) return;
            ranBody_ = true;
        }
        setValueForKey(kIsExecuting, true);
        {
            std::lock_guard lock(board_.mutex);
            board_.started.push_back(number_);
            board_.mostAtOnce = std::max(board_.mostAtOnce, ++board_.running);
        }
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return released_ || ended_; });
        const bool endHere = !ended_;
        ended_ = true;
        lock.unlock();
        {
            std::lock_guard boardLock(board_.mutex);
            --board_.running;
        }
        if (endHere) finish();
    }
    void cancel() override {
        Operation::cancel();
        bool endHere = false;
        {
            std::lock_guard lock(mutex_);
            endHere = !ended_;
            ended_ = true;
        }
        changed_.notify_all();
        if (endHere) finish();
    }
    void release() {
        {
            std::lock_guard lock(mutex_);
            released_ = true;
        }
        changed_.notify_all();
    }
    bool ranBody() {
        std::lock_guard lock(mutex_);
        return ranBody_;
    }

private:
    void finish() {
        setValueForKey(kIsExecuting, false);
        setValueForKey(kIsFinished, true);
    }

    Board& board_;
    int number_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool released_ = false;
    bool ended_ = false;
    bool ranBody_ = false;
};

// Remembers on which threads "isFinished" was announced, and stops observing at the first one
// as Kestrova's coordinator does.
class FinishObserver : public KeyValueObserver {
public:
    void observeValueForKeyPath(const std::string& keyPath, Operation& object,
                                bool newValue) override {
        object.removeObserver(this, keyPath);
        std::lock_guard lock(mutex_);
        if (newValue) threads_.push_back(std::this_thread::get_id());
    }
    std::vector<std::thread::id> threads() {
        std::lock_guard lock(mutex_);
        return threads_;
    }

private:
    std::mutex mutex_;
    std::vector<std::thread::id> threads_;
};

std::vector<std::shared_ptr<GateOperation>> makeOperations(Board& board, int count) {
    std::vector<std::shared_ptr<GateOperation>> operations;
    for (int i = 0; i < count; ++i) operations.push_back(std::make_shared<GateOperation>(board, i));
    return operations;
}

std::vector<int> startedOf(Board& board) {
    std::lock_guard lock(board.mutex);
    return board.started;
}

TEST(OperationQueue, RunsAtMostTheLimitAtOnceAndTheRestInOrder) {
    Board board;
    auto operations = makeOperations(board, 5);
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(2);
    for (auto& operation : operations) queue.addOperation(operation);
    ASSERT_TRUE(test::waitUntil([&] { return startedOf(board).size() == 2; }));
    // Each one that ends lets the next waiting one in, in the order they were added.
    for (std::size_t i = 0; i + 2 < operations.size(); ++i) {
        operations[i]->release();
        ASSERT_TRUE(test::waitUntil([&] { return startedOf(board).size() == i + 3; }));
        EXPECT_EQ(startedOf(board).back(), static_cast<int>(i + 2));
    }
    operations[3]->release();
    operations[4]->release();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(board.mostAtOnce, 2);
}

TEST(OperationQueue, CancelAllReachesWaitingAndRunningOperations) {
    Board board;
    auto operations = makeOperations(board, 4);
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    for (auto& operation : operations) queue.addOperation(operation);
    ASSERT_TRUE(test::waitUntil([&] { return startedOf(board).size() == 1; }));
    queue.cancelAllOperations();
    queue.waitUntilAllOperationsAreFinished();
    for (auto& operation : operations) {
        EXPECT_TRUE(operation->isCancelled());
        EXPECT_TRUE(operation->isFinished());
    }
    EXPECT_TRUE(operations[0]->ranBody());
    EXPECT_FALSE(operations[1]->ranBody() || operations[2]->ranBody() || operations[3]->ranBody());
}

TEST(OperationQueue, FinishIsAnnouncedOnTheThreadThatSetsIt) {
    Board board;
    auto operations = makeOperations(board, 2);
    FinishObserver byWorker, byCanceller;
    operations[0]->addObserver(&byWorker, Operation::kIsFinished);
    operations[1]->addObserver(&byCanceller, Operation::kIsFinished);
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    queue.addOperation(operations[0]);
    queue.addOperation(operations[1]);
    operations[1]->cancel();  // still waiting: finished here, on this thread
    operations[0]->release();
    queue.waitUntilAllOperationsAreFinished();
    ASSERT_EQ(byWorker.threads().size(), 1u);
    EXPECT_NE(byWorker.threads()[0], std::this_thread::get_id());
    EXPECT_EQ(byCanceller.threads(), std::vector<std::thread::id>{std::this_thread::get_id()});
}

// An operation whose start() returns before a cancel on another thread has announced its end:
// the queue holds it until "isFinished" is true.
class EarlyReturnOperation : public Operation {
public:
    void start() override { setValueForKey(kIsExecuting, true); }
    void cancel() override {
        Operation::cancel();
        setValueForKey(kIsExecuting, false);
        setValueForKey(kIsFinished, true);
    }
};

TEST(OperationQueue, HoldsAnOperationUntilItIsFinished) {
    auto operation = std::make_shared<EarlyReturnOperation>();
    std::weak_ptr<EarlyReturnOperation> watch = operation;
    OperationQueue queue;
    queue.addOperation(operation);
    ASSERT_TRUE(test::waitUntil([&] { return operation->isExecuting(); }));
    std::thread([&] { operation->cancel(); }).join();
    operation.reset();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(watch.expired()) << "the queue lets go of a finished operation";
}

TEST(OperationQueue, DestructionCancelsAndWaitsForEveryOperation) {
    Board board;
    auto operations = makeOperations(board, 6);
    {
        OperationQueue queue;
        queue.setMaxConcurrentOperationCount(3);
        for (auto& operation : operations) queue.addOperation(operation);
        ASSERT_TRUE(test::waitUntil([&] { return startedOf(board).size() == 3; }));
    }
    for (auto& operation : operations) EXPECT_TRUE(operation->isFinished());
    std::lock_guard lock(board.mutex);
    EXPECT_EQ(board.running, 0);
}

TEST(OperationQueue, ManyShortOperationsAllRun) {
    Board board;
    auto operations = makeOperations(board, 150);
    for (auto& operation : operations) operation->release();
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(4);
    for (auto& operation : operations) queue.addOperation(operation);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(startedOf(board).size(), 150u);
    EXPECT_LE(board.mostAtOnce, 4);
}

}  // namespace
}  // namespace kestrova
