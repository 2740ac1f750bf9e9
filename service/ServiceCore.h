#pragma once
// The state the service's connections share: options, fault switches, the content store, the tasks and
// the capability URLs. Free of networking, so that the protocol can be driven without sockets.
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "service/ContentStore.h"
#include "service/Faults.h"
#include "service/InputReader.h"
#include "service/Limits.h"
#include "service/Options.h"
#include "service/TaskManager.h"

namespace kxservice {

// What a PUT to an upload URL may store.
struct UploadGrant {
    FileKey key;
    uint64_t size = 0;
    uint64_t session = 0;
};

class ServiceCore {
public:
    // The data directory holds "store", "tasks" and the certificates. Throws
    // std::filesystem::filesystem_error when it is unusable.
    ServiceCore(const Options& options, const std::filesystem::path& dataDir,
                std::unique_ptr<TaskRunner> runner);
    ~ServiceCore();

    const Options& options() const { return mOptions; }
    Faults& faults() { return mFaults; }
    ContentStore& store() { return mStore; }
    TaskManager& tasks() { return mTasks; }
    TaskRunner& runner() { return *mRunner; }
    // The reader of a launch input of that stored size: large ones are read one at a time, small ones
    // on a lane of their own.
    InputReader& reader(uint64_t bytes) { return bytes > limits::kQuickReadBytes ? mReader : mQuickReader; }

    uint64_t newSession();
    // Drops the session's upload and download URLs and cancels its uncollected tasks.
    void sessionEnded(uint64_t session);

    // An unguessable token for one PUT of that key and size by that session; empty when the session
    // holds limits::kMaxPendingUploads unused ones already.
    std::optional<std::string> grantUpload(const FileKey& key, uint64_t size, uint64_t session);
    // Uses the token up; empty when it is unknown, used or expired.
    std::optional<UploadGrant> takeUpload(const std::string& token);

    // A token under which the result is served, as often as asked, while the session lasts and for 24
    // hours at most; past limits::kMaxSessionDownloads the session's oldest token goes.
    std::string grantDownload(const TaskResult& result, uint64_t session);
    std::optional<TaskResult> download(const std::string& token);

private:
    using Clock = std::chrono::steady_clock;
    struct UploadCap {
        UploadGrant grant;
        Clock::time_point expiry;
    };
    struct DownloadCap {
        TaskResult result;
        Clock::time_point expiry;
    };
    void dropUploadLocked(const std::string& token);

    Options mOptions;
    Faults mFaults;
    ContentStore mStore;
    std::unique_ptr<TaskRunner> mRunner;
    TaskManager mTasks;
    mutable std::mutex mMutex;
    uint64_t mNextSession = 0;
    std::unordered_map<std::string, UploadCap> mUploads;
    std::set<std::pair<Clock::time_point, std::string>> mUploadExpiry;  // soonest first
    std::unordered_map<uint64_t, std::unordered_set<std::string>> mSessionUploads;
    std::unordered_map<std::string, DownloadCap> mDownloads;
    std::unordered_map<uint64_t, std::deque<std::string>> mSessionDownloads;  // oldest first
    // Last: they stop before what their work touches goes.
    InputReader mReader;
    InputReader mQuickReader;
};

// 32 hexadecimal characters from the system's random source.
std::string randomToken();

}  // namespace kxservice
