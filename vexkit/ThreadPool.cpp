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

namespace {
// Set on a worker thread whose task destroyed the worker's own pool: the worker must not touch it again.
thread_local bool tOwnPoolDestroyed = false;
}  // namespace

ThreadPool::~ThreadPool() {
    if (!isInWorkerThread()) {
        stop();
        return;
    }
    refuseNewTasks();
    joinOthers();
    mThreads.at(std::this_thread::get_id()).detach();
    tOwnPoolDestroyed = true;
}

namespace {
// The front task, or an empty callable when the queue is empty; the caller holds the lock.
ThreadPool::Task popFront(std::deque<ThreadPool::Task>& tasks) {
    if (tasks.empty()) {
        return {};
    }
    ThreadPool::Task task = std::move(tasks.front());
    tasks.pop_front();
    return task;
}
}  // namespace

void ThreadPool::worker() {
    // Only a stopped pool with an empty queue hands out an empty task.
    while (Task task = consume()) {
        task();
        if (tOwnPoolDestroyed) {
            return;
        }
    }
}

ThreadPool::Task ThreadPool::consume() {
    std::unique_lock<std::mutex> lock(mMutex);
    mCondition.wait(lock, [this] { return mStopped || !mTasks.empty(); });
    return popFront(mTasks);
}

ThreadPool::Task ThreadPool::tryConsume() {
    std::lock_guard<std::mutex> lock(mMutex);
    return popFront(mTasks);
}

void ThreadPool::stop() {
    refuseNewTasks();
    if (!isInWorkerThread()) {
        joinOthers();
    }
}

void ThreadPool::refuseNewTasks() {
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mStopped = true;
    }
    mCondition.notify_all();
}

void ThreadPool::joinOthers() {
    std::lock_guard<std::mutex> lock(mJoinMutex);
    const std::thread::id self = std::this_thread::get_id();
    for (auto& [id, thread] : mThreads) {
        if (id != self && thread.joinable()) {
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
