#include "vexkit/ThreadPool.h"

ThreadPool::ThreadPool(size_t nbThreads) {
    while (mThreads.size() < nbThreads) {
        std::thread thread(&ThreadPool::worker, this);
        const std::thread::id id = thread.get_id();
        mThreads.emplace(id, std::move(thread));
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

// Its destructor is the exit-time handler registered right after construction: exit runs every queued task.
ThreadPool threadPool(std::thread::hardware_concurrency());
