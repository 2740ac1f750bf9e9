#pragma once
// The state the service's connections share: options, fault switches, the content store, the tasks and
// the capability URLs. Free of networking, so that the protocol can be driven without sockets.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "service/ContentStore.h"
#include "service/Engine.h"
#include "service/Faults.h"
#include "service/Options.h"
#include "service/TaskManager.h"

namespace kxservice {

// What a PUT to an upload URL may store.
struct UploadGrant {
    FileKey key;
    uint64_t size = 0;
};

class ServiceCore {
public:
    // The data directory holds "store", "tasks" and the certificates. Throws
    // std::filesystem::filesystem_error when it is unusable.
    ServiceCore(const Options& options, const std::filesystem::path& dataDir, std::unique_ptr<Engine> engine);
    ~ServiceCore();

    const Options& options() const { return mOptions; }
    Faults& faults() { return mFaults; }
    ContentStore& store() { return mStore; }
    TaskManager& tasks() { return mTasks; }
    Engine& engine() { return *mEngine; }

    uint64_t newSession();
    // Drops the session's upload URLs and cancels its uncollected tasks.
    void sessionEnded(uint64_t session);

    // An unguessable token for one PUT of that key and size by that session.
    std::string grantUpload(const FileKey& key, uint64_t size, uint64_t session);
    // Uses the token up; empty when it is unknown, used or expired.
    std::optional<UploadGrant> takeUpload(const std::string& token);

    // A token under which the result is served, as often as asked.
    std::string grantDownload(const TaskResult& result);
    std::optional<TaskResult> download(const std::string& token) const;

private:
    struct UploadCap {
        UploadGrant grant;
        uint64_t session = 0;
        std::chrono::steady_clock::time_point expiry;
    };

    Options mOptions;
    Faults mFaults;
    ContentStore mStore;
    std::unique_ptr<Engine> mEngine;
    TaskManager mTasks;
    mutable std::mutex mMutex;
    uint64_t mNextSession = 0;
    std::unordered_map<std::string, UploadCap> mUploads;
    std::unordered_map<std::string, TaskResult> mDownloads;
};

// 32 hexadecimal characters from the system's random source.
std::string randomToken();

}  // namespace kxservice
