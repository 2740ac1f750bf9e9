#pragma once
// Stage progress while a subprocess runs: the program reports its own count ("[i/N]" per image or
// block, "Registering image #ID (n)" per registered image) in the output that goes to the task log,
// and a watcher thread reads the new lines as they come.
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace kxcolmap {

// The fraction of its work that the output's last progress line reports; empty without one. nbImages
// is the total that the mapper's registration count is measured against.
std::optional<double> progressOf(const std::string& output, size_t nbImages);

// Reports lo + (hi - lo) x the fraction while it lives, polling the log from its current end.
class ProgressWatch {
public:
    ProgressWatch(std::filesystem::path log, size_t nbImages, double lo, double hi,
                  std::function<void(float)> report);
    ~ProgressWatch();
    ProgressWatch(const ProgressWatch&) = delete;
    ProgressWatch& operator=(const ProgressWatch&) = delete;

private:
    void poll();

    std::filesystem::path mLog;
    size_t mNbImages;
    double mLo, mHi;
    std::function<void(float)> mReport;
    std::uintmax_t mOffset = 0;
    std::mutex mMutex;
    std::condition_variable mWake;
    bool mStop = false;
    std::thread mThread;
};

}  // namespace kxcolmap
