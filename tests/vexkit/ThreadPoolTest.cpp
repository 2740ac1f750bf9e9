#include <atomic>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "vexkit/ThreadPool.h"

TEST(ThreadPool, ExceptionReachesTheFutureAndTheWorkerGoesOn) {
    ThreadPool pool(1);
    std::thread::id thrower;
    auto failed = pool.enqueueStd([&thrower]() -> int {
        thrower = std::this_thread::get_id();
        throw std::invalid_argument("bad input");
    });
    auto next = pool.enqueueStd([] { return std::this_thread::get_id(); });
    EXPECT_THAT([&failed] { failed.get(); },
                testing::ThrowsMessage<std::invalid_argument>(testing::StrEq("bad input")));
    EXPECT_EQ(next.get(), thrower);  // the same, single worker survived
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

TEST(ThreadPool, WithoutWorkersConsumersTakeTasksInOrderStopWakesThemAndDestructionBreaksPromises) {
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
    EXPECT_EQ(second.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    pool.tryConsume()();
    EXPECT_EQ(second.get(), 2);

    std::promise<bool> gotTask;
    std::thread waiter([&] { gotTask.set_value(static_cast<bool>(pool.consume())); });
    pool.stop();
    EXPECT_FALSE(gotTask.get_future().get());
    waiter.join();

    // Destroyed with work queued, it breaks the work's promises.
    auto owner = std::make_unique<ThreadPool>(0);
    auto pending = owner->enqueueStd([] { return 7; });
    owner.reset();
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
