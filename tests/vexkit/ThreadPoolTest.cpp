#include <algorithm>
#include <atomic>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "vexkit/ThreadPool.h"

using testing::StrEq;
using testing::ThrowsMessage;

namespace {
// Blocks every worker of `pool` inside a task until `gate` is set; returns once all are blocked.
void occupyWorkers(ThreadPool& pool, int nbWorkers, std::promise<void>& gate) {
    std::atomic<int> started{0};  // not touched by a task after its increment
    const std::shared_future<void> opened = gate.get_future().share();
    for (int i = 0; i < nbWorkers; ++i) {
        pool.enqueueStd([&started, opened] {
            ++started;
            opened.wait();
        });
    }
    while (started.load() < nbWorkers) {
        std::this_thread::yield();
    }
}

template <typename T>
bool isReady(const std::future<T>& f) {
    return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}
}  // namespace

TEST(ThreadPool, StopRunsEveryQueuedTaskThenRefusesNewOnes) {
    std::promise<void> gate;
    ThreadPool pool(2);
    occupyWorkers(pool, 2, gate);
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
    gate.set_value();
    stopper.join();
    EXPECT_EQ(ran.load(), 100);
    EXPECT_THAT([&pool] { pool.enqueueStd([] { return 1; }); },
                ThrowsMessage<std::runtime_error>(StrEq("the pool has been stopped")));
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
    EXPECT_THAT([&failed] { failed.get(); }, ThrowsMessage<std::invalid_argument>(StrEq("bad input")));
    EXPECT_EQ(next.get(), thrower);  // the same, single worker survived
}

TEST(ThreadPool, KnowsItsOwnWorkerThreads) {
    ThreadPool pool(2);
    ThreadPool other(1);
    EXPECT_FALSE(pool.isInWorkerThread());
    // A task may queue more work on its own pool.
    EXPECT_TRUE(
        pool.enqueueStd([&pool] { return pool.enqueueStd([&pool] { return pool.isInWorkerThread(); }); })
            .get()
            .get());
    EXPECT_FALSE(other.enqueueStd([&pool] { return pool.isInWorkerThread(); }).get());
    // The global pool has workers of its own.
    EXPECT_FALSE(threadPool.isInWorkerThread());
    EXPECT_TRUE(threadPool.enqueueStd([] { return threadPool.isInWorkerThread(); }).get());
}

TEST(ThreadPool, ProducersOnManyThreadsLoseNothing) {
    ThreadPool pool(3);
    std::atomic<long> sum{0};
    std::vector<std::thread> producers;
    for (int p = 0; p < 4; ++p) {
        producers.emplace_back([&] {
            for (int i = 1; i <= 250; ++i) {
                pool.enqueueStd([&sum, i] { sum += i; });
            }
        });
    }
    for (auto& t : producers) {
        t.join();
    }
    pool.stop();  // runs every queued task
    EXPECT_EQ(sum.load(), 4 * 250 * 251 / 2);
}

TEST(ThreadPool, WithoutWorkersConsumersTakeTasksInOrderAndStopWakesThem) {
    ThreadPool pool(0);
    EXPECT_FALSE(pool.tryConsume());
    std::promise<ThreadPool::Task> taken;
    std::thread consumer([&] { taken.set_value(pool.consume()); });  // may wait for the first task
    auto first = pool.enqueueStd([] { return std::this_thread::get_id(); });
    auto second = pool.enqueueStd([] { return 2; });
    ThreadPool::Task task = taken.get_future().get();
    consumer.join();
    ASSERT_TRUE(task);
    task();
    EXPECT_EQ(first.get(), std::this_thread::get_id());
    EXPECT_FALSE(isReady(second));
    pool.tryConsume()();
    EXPECT_EQ(second.get(), 2);

    std::promise<bool> gotTask;
    std::thread waiter([&] { gotTask.set_value(static_cast<bool>(pool.consume())); });
    pool.stop();
    EXPECT_FALSE(gotTask.get_future().get());
    waiter.join();
}

TEST(ThreadPool, DestructionRunsQueuedWorkOrBreaksItsPromisesWithoutWorkers) {
    std::atomic<int> ran{0};
    {
        ThreadPool pool(2);
        for (int i = 0; i < 50; ++i) {
            pool.enqueueStd([&ran] { ++ran; });
        }
    }
    EXPECT_EQ(ran.load(), 50);

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

TEST(ThreadPool, StoppingFromAWorkerOrFromTwoThreadsAtOnceEndsCleanly) {
    for (int round = 0; round < 20; ++round) {
        std::atomic<int> ran{0};
        ThreadPool pool(3);
        for (int i = 0; i < 30; ++i) {
            pool.enqueueStd([&ran] { ++ran; });
        }
        std::thread a([&pool] { pool.stop(); });
        std::thread b([&pool] { pool.stop(); });
        a.join();
        b.join();
        EXPECT_EQ(ran.load(), 30);  // each stop() returned only after the queue was drained
    }
    ThreadPool pool(2);
    pool.enqueueStd([&pool] { pool.stop(); }).get();
    EXPECT_THROW(pool.enqueueStd([] {}), std::runtime_error);
    // The last owner of a pool may be one of its own tasks (started only once no other thread uses it).
    auto* owned = new ThreadPool(2);
    std::atomic<int> ran{0};
    std::promise<void> released, deleted;
    owned->enqueueStd([&ran] { ++ran; });
    owned->enqueueStd([owned, go = released.get_future().share(), &deleted] {
        go.wait();
        delete owned;
        deleted.set_value();
    });
    released.set_value();
    deleted.get_future().wait();
    EXPECT_EQ(ran.load(), 1);
}
