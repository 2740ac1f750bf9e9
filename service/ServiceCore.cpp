#include "service/ServiceCore.h"

#include <openssl/rand.h>

#include "service/Log.h"

namespace kxservice {

namespace {
// Long enough for a large batch of uploads queued behind each other.
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
                         std::unique_ptr<Engine> engine)
    : mOptions(options),
      mStore(dataDir / "store", options.maxStore, {dataDir / "cache"}),
      mEngine(std::move(engine)),
      mTasks(*mEngine, mStore, mFaults, dataDir / "tasks", options.maxTasks) {
    for (const std::string& name : options.faults) {
        if (const auto f = faultByName(name)) {
            mFaults.arm(*f);
        }
    }
}

ServiceCore::~ServiceCore() {
    mTasks.stop();
}

uint64_t ServiceCore::newSession() {
    const std::lock_guard<std::mutex> lock(mMutex);
    return ++mNextSession;
}

void ServiceCore::sessionEnded(uint64_t session) {
    {
        const std::lock_guard<std::mutex> lock(mMutex);
        for (auto it = mUploads.begin(); it != mUploads.end();) {
            it = it->second.session == session ? mUploads.erase(it) : std::next(it);
        }
    }
    mTasks.sessionEnded(session);
}

std::string ServiceCore::grantUpload(const FileKey& key, uint64_t size, uint64_t session) {
    const auto now = std::chrono::steady_clock::now();
    std::string token = randomToken();
    const std::lock_guard<std::mutex> lock(mMutex);
    for (auto it = mUploads.begin(); it != mUploads.end();) {
        it = it->second.expiry < now ? mUploads.erase(it) : std::next(it);
    }
    mUploads[token] = {{key, size}, session, now + kUploadLifetime};
    return token;
}

std::optional<UploadGrant> ServiceCore::takeUpload(const std::string& token) {
    const std::lock_guard<std::mutex> lock(mMutex);
    const auto it = mUploads.find(token);
    if (it == mUploads.end()) {
        return std::nullopt;
    }
    const UploadCap cap = it->second;
    mUploads.erase(it);
    if (cap.expiry < std::chrono::steady_clock::now()) {
        return std::nullopt;
    }
    return cap.grant;
}

std::string ServiceCore::grantDownload(const TaskResult& result) {
    std::string token = randomToken();
    const std::lock_guard<std::mutex> lock(mMutex);
    mDownloads[token] = result;
    return token;
}

std::optional<TaskResult> ServiceCore::download(const std::string& token) const {
    const std::lock_guard<std::mutex> lock(mMutex);
    const auto it = mDownloads.find(token);
    if (it == mDownloads.end()) {
        return std::nullopt;
    }
    return it->second;
}

}  // namespace kxservice
