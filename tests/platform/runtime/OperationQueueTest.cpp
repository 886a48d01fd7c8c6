// The operation queue with operations that the test finishes (also under TSan).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/runtime/OperationQueue.h"
#include "support/Wait.h"

namespace kestrova {
namespace {

// Which operations began their work, in order, and how many worked at once at most.
struct Board {
    std::vector<int> started() {
        std::lock_guard lock(mutex);
        return begun;
    }
    std::mutex mutex;
    std::vector<int> begun;
    int working = 0, mostAtOnce = 0;
};

// Returns from start() unfinished and works until finished or cancelled; like the downloads, a
// cancel finishes it at once, and the queue's start() then does nothing.
class ManualOperation final : public Operation {
public:
    ManualOperation(Board& board, int number) : board_(board), number_(number) {}
    void start() override {
        if (isCancelled()) return;
        setValueForKey(kIsExecuting, true);
        std::lock_guard lock(board_.mutex);
        board_.begun.push_back(number_);
        board_.mostAtOnce = std::max(board_.mostAtOnce, ++board_.working);
    }
    void cancel() override {
        Operation::cancel();
        finish();
    }
    void finish() {
        if (ended_.exchange(true)) return;
        if (isExecuting()) {
            std::lock_guard lock(board_.mutex);
            --board_.working;
        }
        setValueForKey(kIsExecuting, false);
        setValueForKey(kIsFinished, true);
    }

private:
    Board& board_;
    const int number_;
    std::atomic<bool> ended_{false};
};

using Operations = std::vector<std::shared_ptr<ManualOperation>>;

// The next one waits until one has finished, not just returned from start(), or for a higher
// limit; then the queue lets go of the finished one. The first two start in either order.
TEST(OperationQueue, RunsAtMostTheLimitAtOnceAndTheRestInOrder) {
    Board board;
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(2);
    Operations operations;
    for (int i = 0; i < 5; ++i)
        queue.addOperation(operations.emplace_back(std::make_shared<ManualOperation>(board, i)));
    const std::weak_ptr<ManualOperation> first = operations[0];
    ASSERT_TRUE(test::waitUntil([&] { return board.started().size() == 2; }));
    std::thread([&] { operations[0]->finish(); }).join();
    ASSERT_TRUE(test::waitUntil([&] { return board.started().size() == 3; }));
    queue.setMaxConcurrentOperationCount(3);
    ASSERT_TRUE(test::waitUntil([&] { return board.started().size() == 4; }));
    for (int i : {1, 2, 3}) operations[i]->finish();
    ASSERT_TRUE(test::waitUntil([&] { return board.started().size() == 5; }));
    operations[4]->finish();
    queue.waitUntilAllOperationsAreFinished();
    const std::vector<int> started = board.started();
    EXPECT_EQ(std::vector(started.begin() + 2, started.end()), (std::vector{2, 3, 4}));
    EXPECT_EQ(board.mostAtOnce, 3);
    operations.clear();
    EXPECT_TRUE(first.expired());
}

TEST(OperationQueue, CancelAllAndDestructionReachWaitingAndRunningOperations) {
    for (const bool destroy : {false, true}) {
        Board board;
        Operations operations;
        {
            OperationQueue queue;
            queue.setMaxConcurrentOperationCount(1);
            for (int i = 0; i < 3; ++i)
                queue.addOperation(
                    operations.emplace_back(std::make_shared<ManualOperation>(board, i)));
            ASSERT_TRUE(test::waitUntil([&] { return board.started().size() == 1; }));
            if (!destroy) queue.cancelAllOperations(), queue.waitUntilAllOperationsAreFinished();
        }
        for (const auto& operation : operations)
            EXPECT_TRUE(operation->isCancelled() && operation->isFinished()) << destroy;
        EXPECT_EQ(board.started(), std::vector{0}) << "no work after a cancel; " << destroy;
    }
}

}  // namespace
}  // namespace kestrova
