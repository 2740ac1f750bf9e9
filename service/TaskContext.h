#pragma once
// What an engine sees of its task while it runs: the task directory, the stored inputs, progress,
// cancellation, the task log and subprocesses. The service makes one per task; its calls are safe from
// the engine's worker thread (and from any threads the engine starts itself).
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "service/Subprocess.h"
#include "vexkit/FileKey.h"

namespace kxservice {

class TaskContext {
public:
    // progress receives ratios of the running stage in [0, 1].
    TaskContext(std::filesystem::path dir, std::unordered_map<FileKey, std::filesystem::path> inputs,
                std::function<void(float)> progress, const std::atomic<bool>& cancelFlag);

    // The task's own directory: the engine writes everything there (it is removed with the task).
    const std::filesystem::path& dir() const { return mDir; }
    // The stored file of an input key (read only: it is shared with other tasks). Throws
    // std::out_of_range for a key that is not an input of this task.
    const std::filesystem::path& inputPath(const FileKey& key) const;

    // Room in the service's storage budget for size bytes that the engine keeps after the task (a cache
    // below the data directory), true when the service sets no budget; and bytes of it given back.
    bool claimStorage(uint64_t size) const { return !mClaim || mClaim(int64_t(size)); }
    void releaseStorage(uint64_t size) const {
        if (mClaim) {
            mClaim(-int64_t(size));
        }
    }
    void setStorageClaim(std::function<bool(int64_t)> claim) { mClaim = std::move(claim); }

    // Progress of the running stage, clamped to [0, 1].
    void progress(float ratio);
    // Set when the task must stop: its session ended, or the service is shutting down.
    bool cancelled() const { return mCancel.load(); }

    // One timestamped line in the task log ("task.log" in dir()).
    void log(std::string_view line);
    const std::filesystem::path& logFile() const { return mLogFile; }

    // Runs argv[0] (looked up in PATH) in dir() with its standard output and error appended to the task
    // log, and waits for it. It is ended (SIGTERM, then SIGKILL after 2 s) when the timeout passes or the
    // task is cancelled; see SubprocessResult. Throws std::runtime_error when it cannot be started.
    SubprocessResult run(const std::vector<std::string>& argv, std::chrono::milliseconds timeout);

private:
    std::filesystem::path mDir;
    std::filesystem::path mLogFile;
    std::unordered_map<FileKey, std::filesystem::path> mInputs;
    std::function<void(float)> mProgress;
    std::function<bool(int64_t)> mClaim;
    const std::atomic<bool>& mCancel;
    std::mutex mLogMutex;
};

// Appends one timestamped line to the task log of the task directory dir (errors are ignored: the log
// is a courtesy to whoever reads it).
void appendTaskLog(const std::filesystem::path& dir, std::string_view line);

}  // namespace kxservice
