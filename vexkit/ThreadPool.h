#pragma once
// A fixed set of worker threads fed from one first-in, first-out queue.
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <type_traits>
#include <unordered_map>

class ThreadPool {
public:
    using Task = std::function<void()>;

    // Starts `nbThreads` workers; 0 starts none (tasks then run only through consume/tryConsume).
    explicit ThreadPool(size_t nbThreads);
    // Stops the pool (running every queued task); tasks left in a pool without workers are discarded
    // and their futures report a broken promise. Called from a task of this pool, it waits for the other
    // workers only; the calling worker ends when its task returns, and tasks that only it could have run
    // are discarded.
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    // Queues `f` and returns the future of its result; an exception of `f` comes out of the future's get().
    // Throws std::runtime_error("the pool has been stopped") after stop().
    template <typename F>
    auto enqueueStd(F&& f) -> std::future<std::invoke_result_t<std::decay_t<F>&>>;

    // Takes the front task for the caller to run, waiting while the pool runs and the queue is empty.
    // Returns an empty callable when the pool is stopped and the queue is empty.
    Task consume();
    // Takes the front task if there is one, else returns an empty callable at once.
    Task tryConsume();
    // Refuses new tasks, lets the workers drain the queue, and joins them. Any number of threads may call
    // it, at once or again; each call returns once every worker has ended. Called from a task of this
    // pool, it only refuses new tasks: a worker cannot wait for itself, and two workers waiting for each
    // other would never end. The workers are then joined by a later stop() or the destructor.
    void stop();
    bool isInWorkerThread() const noexcept;

private:
    void worker();
    void refuseNewTasks();
    // Joins every worker but the calling thread.
    void joinOthers();

    std::unordered_map<std::thread::id, std::thread> mThreads;
    std::mutex mMutex;
    std::condition_variable mCondition;
    bool mStopped = false;
    std::deque<Task> mTasks;
    std::mutex mJoinMutex;  // one thread at a time joins the workers
};

template <typename F>
auto ThreadPool::enqueueStd(F&& f) -> std::future<std::invoke_result_t<std::decay_t<F>&>> {
    using Result = std::invoke_result_t<std::decay_t<F>&>;
    auto task = std::make_shared<std::packaged_task<Result()>>(std::forward<F>(f));
    std::future<Result> future = task->get_future();
    {
        std::lock_guard<std::mutex> lock(mMutex);
        if (mStopped) {
            throw std::runtime_error("the pool has been stopped");
        }
        mTasks.emplace_back([task = std::move(task)]() { (*task)(); });
    }
    mCondition.notify_one();
    return future;
}

// The process-wide pool, with one worker per hardware thread; it drains its queue at exit.
extern ThreadPool threadPool;
