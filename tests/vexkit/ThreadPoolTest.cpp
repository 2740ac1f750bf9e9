#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "vexkit/ThreadPool.h"

namespace {
// A one-shot gate: tasks wait on it until the test opens it.
class Gate {
public:
    void open() { mPromise.set_value(); }
    void wait() const { mFuture.wait(); }

private:
    std::promise<void> mPromise;
    std::shared_future<void> mFuture = mPromise.get_future().share();
};

// Counts down to zero; wait() returns once it is reached.
class Latch {
public:
    explicit Latch(int count) : mCount(count) {}
    void countDown() {
        std::lock_guard<std::mutex> lock(mMutex);
        if (--mCount == 0) {
            mDone.notify_all();
        }
    }
    void wait() {
        std::unique_lock<std::mutex> lock(mMutex);
        mDone.wait(lock, [this] { return mCount <= 0; });
    }

private:
    std::mutex mMutex;
    std::condition_variable mDone;
    int mCount;
};

// Blocks every worker of `pool` inside a task until `gate` opens; returns once all are blocked.
std::vector<std::future<void>> occupyWorkers(ThreadPool& pool, int nbWorkers, const Gate& gate) {
    Latch started(nbWorkers);
    std::vector<std::future<void>> busy;
    for (int i = 0; i < nbWorkers; ++i) {
        busy.push_back(pool.enqueueStd([&started, &gate] {
            started.countDown();
            gate.wait();
        }));
    }
    started.wait();
    return busy;
}
}  // namespace

TEST(ThreadPool, QueuedTasksStartInArrivalOrder) {
    Gate gate;  // outlives the pool, whose workers still touch it after it opens
    ThreadPool pool(1);
    auto busy = occupyWorkers(pool, 1, gate);
    std::vector<int> order;  // touched only by the single worker until the futures are collected
    std::vector<std::future<void>> done;
    for (int i = 0; i < 200; ++i) {
        done.push_back(pool.enqueueStd([&order, i] { order.push_back(i); }));
    }
    gate.open();
    for (auto& f : done) {
        f.get();
    }
    ASSERT_EQ(order.size(), 200u);
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(order[i], i);
    }
}

TEST(ThreadPool, ManyWorkersTakeTasksInArrivalOrder) {
    // With several workers the starts interleave, but the queue hands tasks out in order: task i is taken
    // only after tasks 0..i-1, and of those at most the three other workers hold one not yet started.
    Gate gate;  // outlives the pool, whose workers still touch it after it opens
    ThreadPool pool(4);
    auto busy = occupyWorkers(pool, 4, gate);
    std::atomic<int> taken{0};
    std::atomic<int> outOfOrder{0};
    std::vector<std::future<void>> done;
    for (int i = 0; i < 500; ++i) {
        done.push_back(pool.enqueueStd([&, i] {
            if (taken.fetch_add(1) < i - 3) {
                ++outOfOrder;
            }
        }));
    }
    gate.open();
    for (auto& f : done) {
        f.get();
    }
    EXPECT_EQ(taken.load(), 500);
    EXPECT_EQ(outOfOrder.load(), 0);
}

TEST(ThreadPool, StopRunsEveryQueuedTaskThenRefusesNewOnes) {
    Gate gate;  // outlives the pool, whose workers still touch it after it opens
    ThreadPool pool(2);
    auto busy = occupyWorkers(pool, 2, gate);
    std::atomic<int> ran{0};
    for (int i = 0; i < 100; ++i) {
        pool.enqueueStd([&ran] { ++ran; });
    }
    std::thread stopper([&pool] { pool.stop(); });
    // Wait (without sleeping) until the stop flag is set, so the queue is drained by a stopped pool.
    for (;;) {
        try {
            pool.enqueueStd([] {});
            std::this_thread::yield();
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "the pool has been stopped");
            break;
        }
    }
    EXPECT_EQ(ran.load(), 0);  // the workers are still held
    gate.open();
    stopper.join();
    EXPECT_EQ(ran.load(), 100);
    try {
        pool.enqueueStd([] { return 1; });
        ADD_FAILURE() << "queued into a stopped pool";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "the pool has been stopped");
    }
    pool.stop();  // a second stop is harmless
}

TEST(ThreadPool, ExceptionReachesTheFutureAndTheWorkerGoesOn) {
    ThreadPool pool(1);
    std::thread::id thrower;
    auto failed = pool.enqueueStd([&thrower]() -> int {
        thrower = std::this_thread::get_id();
        throw std::invalid_argument("bad input");
    });
    auto next = pool.enqueueStd([] { return std::this_thread::get_id(); });
    try {
        failed.get();
        ADD_FAILURE() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "bad input");
    }
    EXPECT_EQ(next.get(), thrower);  // the same, single worker survived
}

TEST(ThreadPool, KnowsItsOwnWorkerThreads) {
    ThreadPool pool(2);
    ThreadPool other(1);
    EXPECT_FALSE(pool.isInWorkerThread());
    EXPECT_TRUE(pool.enqueueStd([&pool] { return pool.isInWorkerThread(); }).get());
    EXPECT_FALSE(other.enqueueStd([&pool] { return pool.isInWorkerThread(); }).get());
}

TEST(ThreadPool, TasksMayQueueMoreTasksAndReturnMoveOnlyResults) {
    ThreadPool pool(2);
    auto outer = pool.enqueueStd([&pool] {
        auto owned = std::make_unique<int>(41);
        return pool.enqueueStd([owned = std::move(owned)]() mutable {
            ++*owned;
            return std::move(owned);
        });
    });
    std::unique_ptr<int> result = outer.get().get();
    ASSERT_TRUE(result);
    EXPECT_EQ(*result, 42);
}

TEST(ThreadPool, ProducersOnManyThreadsLoseNothing) {
    ThreadPool pool(3);
    std::atomic<long> sum{0};
    std::vector<std::thread> producers;
    std::vector<std::vector<std::future<void>>> futures(4);
    for (int p = 0; p < 4; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 1; i <= 250; ++i) {
                futures[p].push_back(pool.enqueueStd([&sum, i] { sum += i; }));
            }
        });
    }
    for (auto& t : producers) {
        t.join();
    }
    for (auto& list : futures) {
        for (auto& f : list) {
            f.get();
        }
    }
    EXPECT_EQ(sum.load(), 4 * 250 * 251 / 2);
}

TEST(ThreadPool, WithoutWorkersOnlyConsumersRunTasks) {
    ThreadPool pool(0);
    EXPECT_FALSE(pool.tryConsume());
    std::vector<int> order;
    std::vector<std::future<int>> results;
    for (int i = 0; i < 3; ++i) {
        results.push_back(pool.enqueueStd([&order, i] {
            order.push_back(i);
            return i * 10;
        }));
    }
    EXPECT_EQ(results[0].wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    ThreadPool::Task first = pool.tryConsume();
    ASSERT_TRUE(first);
    first();
    ThreadPool::Task second = pool.consume();  // a task is queued: no waiting
    ASSERT_TRUE(second);
    second();
    EXPECT_EQ(order, (std::vector<int>{0, 1}));
    EXPECT_EQ(results[0].get(), 0);
    EXPECT_EQ(results[1].get(), 10);
    // The third stays queued; a stopped pool still hands it out, then reports an empty queue.
    pool.stop();
    ThreadPool::Task third = pool.consume();
    ASSERT_TRUE(third);
    third();
    EXPECT_EQ(results[2].get(), 20);
    EXPECT_FALSE(pool.consume());
    EXPECT_FALSE(pool.tryConsume());
}

TEST(ThreadPool, ConsumeWaitsForTheNextTask) {
    ThreadPool pool(0);
    std::promise<ThreadPool::Task> taken;
    std::thread consumer([&] { taken.set_value(pool.consume()); });
    auto result = pool.enqueueStd([] { return std::this_thread::get_id(); });
    ThreadPool::Task task = taken.get_future().get();
    consumer.join();
    ASSERT_TRUE(task);
    task();
    EXPECT_EQ(result.get(), std::this_thread::get_id());
}

TEST(ThreadPool, ConsumeReturnsEmptyWhenStopWakesIt) {
    ThreadPool pool(0);
    std::promise<bool> gotTask;
    std::thread consumer([&] { gotTask.set_value(static_cast<bool>(pool.consume())); });
    pool.stop();
    EXPECT_FALSE(gotTask.get_future().get());
    consumer.join();
}

TEST(ThreadPool, DestroyingAPoolWithoutWorkersBreaksPendingPromises) {
    auto pool = std::make_unique<ThreadPool>(0);
    auto pending = pool->enqueueStd([] { return 7; });
    pool.reset();
    try {
        pending.get();
        ADD_FAILURE() << "the task ran";
    } catch (const std::future_error& e) {
        EXPECT_EQ(e.code(), std::future_errc::broken_promise);
    }
}

TEST(ThreadPool, DestructionWaitsForQueuedWork) {
    std::atomic<int> ran{0};
    {
        ThreadPool pool(2);
        for (int i = 0; i < 50; ++i) {
            pool.enqueueStd([&ran] { ++ran; });
        }
    }
    EXPECT_EQ(ran.load(), 50);
}

TEST(ThreadPool, GlobalPoolHasWorkers) {
    EXPECT_FALSE(threadPool.isInWorkerThread());
    EXPECT_TRUE(threadPool.enqueueStd([] { return threadPool.isInWorkerThread(); }).get());
}
