#include "service/colmap/ProgressWatch.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace kxcolmap {

std::optional<double> progressOf(const std::string& output, size_t nbImages) {
    std::optional<double> fraction;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        unsigned long long done = 0, total = 0;
        const size_t open = line.find('[');
        if (open != std::string::npos &&
            std::sscanf(line.c_str() + open, "[%llu/%llu]", &done, &total) == 2 && total > 0) {
            fraction = std::min(1.0, double(done) / double(total));
        } else if (nbImages > 0 && std::sscanf(line.c_str(), "Registering image #%*u (%llu)", &done) == 1) {
            fraction = std::min(1.0, double(done) / double(nbImages));
        }
    }
    return fraction;
}

ProgressWatch::ProgressWatch(std::filesystem::path log, size_t nbImages, double lo, double hi,
                             std::function<void(float)> report)
    : mLog(std::move(log)), mNbImages(nbImages), mLo(lo), mHi(hi), mReport(std::move(report)) {
    std::error_code ec;
    mOffset = std::filesystem::file_size(mLog, ec);
    if (ec) {
        mOffset = 0;
    }
    mReport(float(mLo));
    mThread = std::thread([this] {
        std::unique_lock<std::mutex> lock(mMutex);
        while (!mWake.wait_for(lock, std::chrono::milliseconds(250), [this] { return mStop; })) {
            poll();
        }
    });
}

ProgressWatch::~ProgressWatch() {
    {
        const std::lock_guard<std::mutex> lock(mMutex);
        mStop = true;
    }
    mWake.notify_all();
    mThread.join();
    mReport(float(mHi));
}

void ProgressWatch::poll() {
    std::ifstream in(mLog, std::ios::binary);
    if (!in.seekg(std::streamoff(mOffset))) {
        return;
    }
    std::string fresh((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Only whole lines count; a partial one is read again on the next poll.
    const size_t end = fresh.rfind('\n');
    if (end == std::string::npos) {
        return;
    }
    fresh.resize(end + 1);
    mOffset += fresh.size();
    if (const auto fraction = progressOf(fresh, mNbImages)) {
        mReport(float(mLo + (mHi - mLo) * *fraction));
    }
}

}  // namespace kxcolmap
