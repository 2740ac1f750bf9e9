#include "vexkit/ThreadPool.h"

ThreadPool::ThreadPool(size_t nbThreads) {
    try {
        while (mThreads.size() < nbThreads) {
            std::thread thread(&ThreadPool::worker, this);
            const std::thread::id id = thread.get_id();
            mThreads.emplace(id, std::move(thread));
        }
    } catch (...) {
        // No destructor runs for a half-built pool: the workers already started must be joined here,
        // or their std::thread objects would terminate the process.
        stop();
        throw;
    }
}

ThreadPool::~ThreadPool() {
    stop();
}

void ThreadPool::worker() {
    for (;;) {
        Task task;
        {
            std::unique_lock<std::mutex> lock(mMutex);
            mCondition.wait(lock, [this] { return mStopped || !mTasks.empty(); });
            if (mTasks.empty()) {
                return;
            }
            task = std::move(mTasks.front());
            mTasks.pop_front();
        }
        task();
    }
}

ThreadPool::Task ThreadPool::consume() {
    std::unique_lock<std::mutex> lock(mMutex);
    mCondition.wait(lock, [this] { return mStopped || !mTasks.empty(); });
    if (mTasks.empty()) {
        return {};
    }
    Task task = std::move(mTasks.front());
    mTasks.pop_front();
    return task;
}

ThreadPool::Task ThreadPool::tryConsume() {
    std::lock_guard<std::mutex> lock(mMutex);
    if (mTasks.empty()) {
        return {};
    }
    Task task = std::move(mTasks.front());
    mTasks.pop_front();
    return task;
}

void ThreadPool::stop() {
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mStopped = true;
    }
    mCondition.notify_all();
    for (auto& [id, thread] : mThreads) {
        if (thread.joinable()) {
            thread.join();
        }
    }
}

bool ThreadPool::isInWorkerThread() const noexcept {
    return mThreads.find(std::this_thread::get_id()) != mThreads.end();
}

namespace {
// hardware_concurrency() may report 0 ("unknown"); a pool without workers would never run queued work.
size_t defaultThreadCount() {
    const unsigned count = std::thread::hardware_concurrency();
    return count > 0 ? count : 1;
}
}  // namespace

// Its destructor is the exit-time handler registered right after construction: exit runs every queued task.
ThreadPool threadPool(defaultThreadCount());
