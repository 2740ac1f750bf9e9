#pragma once
// One thread that reads and checks the inputs of launches (configurations, sparse models), one at a
// time and in the order they came: a large input then costs one read's memory at most, and the network
// threads keep answering meanwhile.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace kxservice {

class InputReader {
public:
    InputReader();
    ~InputReader();  // stop()
    InputReader(const InputReader&) = delete;
    InputReader& operator=(const InputReader&) = delete;

    // Runs work on the reader's thread after everything posted before it. work must not throw.
    void post(std::function<void()> work);
    // Drops what has not started, waits for what has and joins the thread. Idempotent.
    void stop();

private:
    std::mutex mMutex;
    std::condition_variable mWake;
    std::deque<std::function<void()>> mQueue;
    bool mStopping = false;
    std::thread mThread;
};

}  // namespace kxservice
