#include "service/InputReader.h"

namespace kxservice {

InputReader::InputReader() {
    mThread = std::thread([this] {
        for (;;) {
            std::function<void()> work;
            {
                std::unique_lock<std::mutex> lock(mMutex);
                mWake.wait(lock, [&] { return mStopping || !mQueue.empty(); });
                if (mStopping) {
                    return;
                }
                work = std::move(mQueue.front());
                mQueue.pop_front();
            }
            work();
        }
    });
}

InputReader::~InputReader() {
    stop();
}

void InputReader::post(std::function<void()> work) {
    const std::lock_guard<std::mutex> lock(mMutex);
    if (!mStopping) {
        mQueue.push_back(std::move(work));
        mWake.notify_one();
    }
}

void InputReader::stop() {
    {
        const std::lock_guard<std::mutex> lock(mMutex);
        mStopping = true;
        mQueue.clear();
    }
    mWake.notify_all();
    if (mThread.joinable()) {
        mThread.join();
    }
}

}  // namespace kxservice
