#include "service/ServiceCore.h"

#include <openssl/rand.h>

#include "service/Limits.h"
#include "service/Log.h"

namespace kxservice {

namespace {
// Long enough for a large batch of uploads queued behind each other; download URLs live as long at most.
constexpr std::chrono::hours kUploadLifetime{24};
}  // namespace

std::string randomToken() {
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1) {
        throw std::runtime_error("no random bytes");
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 15]);
    }
    return out;
}

ServiceCore::ServiceCore(const Options& options, const std::filesystem::path& dataDir,
                         std::unique_ptr<TaskRunner> runner)
    : mOptions(options),
      mStore(dataDir / "store", options.maxStore, {dataDir / "cache"}),
      mRunner(std::move(runner)),
      mTasks(*mRunner, mStore, mFaults, dataDir / "tasks", options.maxTasks) {
    for (const std::string& name : options.faults) {
        if (const auto f = faultByName(name)) {
            mFaults.arm(*f);
        }
    }
}

ServiceCore::~ServiceCore() {
    mReader.stop();
    mQuickReader.stop();
    mTasks.stop();
}

uint64_t ServiceCore::newSession() {
    const std::lock_guard<std::mutex> lock(mMutex);
    return ++mNextSession;
}

void ServiceCore::sessionEnded(uint64_t session) {
    {
        const std::lock_guard<std::mutex> lock(mMutex);
        const auto uploads = mSessionUploads.find(session);
        if (uploads != mSessionUploads.end()) {
            const std::unordered_set<std::string> tokens = std::move(uploads->second);
            for (const std::string& token : tokens) {
                dropUploadLocked(token);
            }
            mSessionUploads.erase(session);
        }
        const auto downloads = mSessionDownloads.find(session);
        if (downloads != mSessionDownloads.end()) {
            for (const std::string& token : downloads->second) {
                mDownloads.erase(token);
            }
            mSessionDownloads.erase(downloads);
        }
    }
    mTasks.sessionEnded(session);
}

void ServiceCore::dropUploadLocked(const std::string& token) {
    const auto it = mUploads.find(token);
    if (it == mUploads.end()) {
        return;
    }
    mUploadExpiry.erase({it->second.expiry, token});
    const auto owner = mSessionUploads.find(it->second.grant.session);
    if (owner != mSessionUploads.end()) {
        owner->second.erase(token);
        if (owner->second.empty()) {
            mSessionUploads.erase(owner);
        }
    }
    mUploads.erase(it);
}

std::optional<std::string> ServiceCore::grantUpload(const FileKey& key, uint64_t size, uint64_t session) {
    const auto now = Clock::now();
    std::string token = randomToken();
    const std::lock_guard<std::mutex> lock(mMutex);
    while (!mUploadExpiry.empty() && mUploadExpiry.begin()->first < now) {
        dropUploadLocked(mUploadExpiry.begin()->second);
    }
    auto& mine = mSessionUploads[session];
    if (mine.size() >= limits::kMaxPendingUploads) {
        return std::nullopt;
    }
    mine.insert(token);
    mUploads[token] = {{key, size, session}, now + kUploadLifetime};
    mUploadExpiry.emplace(now + kUploadLifetime, token);
    return token;
}

std::optional<UploadGrant> ServiceCore::takeUpload(const std::string& token) {
    const std::lock_guard<std::mutex> lock(mMutex);
    const auto it = mUploads.find(token);
    if (it == mUploads.end()) {
        return std::nullopt;
    }
    const UploadCap cap = it->second;
    dropUploadLocked(token);
    if (cap.expiry < Clock::now()) {
        return std::nullopt;
    }
    return cap.grant;
}

std::string ServiceCore::grantDownload(const TaskResult& result, uint64_t session) {
    std::string token = randomToken();
    const std::lock_guard<std::mutex> lock(mMutex);
    auto& mine = mSessionDownloads[session];
    if (mine.size() >= limits::kMaxSessionDownloads) {
        mDownloads.erase(mine.front());
        mine.pop_front();
    }
    mine.push_back(token);
    mDownloads[token] = {result, Clock::now() + kUploadLifetime};
    return token;
}

std::optional<TaskResult> ServiceCore::download(const std::string& token) {
    const std::lock_guard<std::mutex> lock(mMutex);
    const auto it = mDownloads.find(token);
    if (it == mDownloads.end() || it->second.expiry < Clock::now()) {
        return std::nullopt;
    }
    return it->second.result;
}

}  // namespace kxservice
