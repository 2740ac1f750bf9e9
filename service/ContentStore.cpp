#include "service/ContentStore.h"

#include <algorithm>

#include "service/Limits.h"
#include "service/Log.h"

namespace fs = std::filesystem;

namespace kxservice {

bool isHexKey(const FileKey& key) {
    return std::all_of(key.data.begin(), key.data.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

ContentStore::ContentStore(fs::path dir, uint64_t maxBytes, const std::vector<fs::path>& counted)
    : mDir(std::move(dir)), mPartialDir(mDir / "partial"), mMaxBytes(maxBytes) {
    for (const fs::path& folder : counted) {
        mStored += bytesUnder(folder);
    }
    fs::create_directories(mDir);
    fs::remove_all(mPartialDir);
    fs::create_directories(mPartialDir);
    for (const fs::directory_entry& e : fs::directory_iterator(mDir)) {
        const std::string name = e.path().filename().string();
        if (!e.is_regular_file() || name.size() != 32) {
            continue;
        }
        FileKey key;
        std::copy(name.begin(), name.end(), key.data.begin());
        if (isHexKey(key)) {
            const uint64_t size = e.file_size();
            mEntries[key] = {size, ++mClock, 0};
            mStored += size;
        }
    }
}

bool ContentStore::has(const FileKey& key) {
    const std::lock_guard<std::mutex> lock(mMutex);
    const auto it = mEntries.find(key);
    if (it == mEntries.end()) {
        return false;
    }
    it->second.lastUse = ++mClock;
    return true;
}

bool ContentStore::pinAll(const std::vector<FileKey>& keys, std::vector<FileKey>& missing) {
    const std::lock_guard<std::mutex> lock(mMutex);
    missing.clear();
    for (const FileKey& k : keys) {
        if (mEntries.count(k) == 0 && std::find(missing.begin(), missing.end(), k) == missing.end()) {
            missing.push_back(k);
        }
    }
    if (!missing.empty()) {
        return false;
    }
    for (const FileKey& k : keys) {
        Entry& e = mEntries[k];
        ++e.nbPins;
        e.lastUse = ++mClock;
    }
    return true;
}

void ContentStore::unpinAll(const std::vector<FileKey>& keys) {
    const std::lock_guard<std::mutex> lock(mMutex);
    for (const FileKey& k : keys) {
        const auto it = mEntries.find(k);
        if (it != mEntries.end() && it->second.nbPins > 0) {
            --it->second.nbPins;
        }
    }
}

bool ContentStore::makeRoomLocked(uint64_t size) {
    const auto fits = [&] { return size <= mMaxBytes && mStored + mReserved <= mMaxBytes - size; };
    if (fits()) {
        return true;
    }
    // Candidates in the order they go: removable directories (collected results), then inputs that no
    // task holds, each oldest first.
    struct Candidate {
        bool input;
        uint64_t since;
        std::string name;
    };
    std::vector<Candidate> candidates;
    uint64_t evictable = 0;
    for (const auto& [dir, o] : mOutside) {
        if (o.removableSince != 0) {
            candidates.push_back({false, o.removableSince, dir});
            evictable += o.bytes;
        }
    }
    for (const auto& [key, e] : mEntries) {
        if (e.nbPins == 0) {
            candidates.push_back({true, e.lastUse, key.str()});
            evictable += e.size;
        }
    }
    // Evict nothing when even evicting everything would not make room.
    if (size > mMaxBytes || mStored - evictable + mReserved > mMaxBytes - size) {
        return false;
    }
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        return a.input != b.input ? b.input : a.since < b.since;
    });
    for (const Candidate& c : candidates) {
        if (fits()) {
            break;
        }
        std::error_code ec;
        if (!c.input) {
            fs::remove_all(c.name, ec);
            mStored -= std::min(mStored, mOutside[c.name].bytes);
            mOutside.erase(c.name);
            logLine("store: removed the collected results in " + c.name);
            continue;
        }
        FileKey key;
        std::copy(c.name.begin(), c.name.end(), key.data.begin());
        fs::remove(pathOf(key), ec);
        mStored -= mEntries[key].size;
        mEntries.erase(key);
        logLine("store: evicted " + c.name);
    }
    return fits();
}

void ContentStore::account(const fs::path& dir, uint64_t bytes) {
    const std::lock_guard<std::mutex> lock(mMutex);
    Outside& o = mOutside[dir.string()];
    mStored = mStored - std::min(mStored, o.bytes) + bytes;
    o.bytes = bytes;
}

void ContentStore::markRemovable(const fs::path& dir) {
    const std::lock_guard<std::mutex> lock(mMutex);
    Outside& o = mOutside[dir.string()];  // it may be collected before its size is counted
    if (o.removableSince == 0) {
        o.removableSince = ++mClock;
    }
}

void ContentStore::forget(const fs::path& dir) {
    const std::lock_guard<std::mutex> lock(mMutex);
    const auto it = mOutside.find(dir.string());
    if (it != mOutside.end()) {
        mStored -= std::min(mStored, it->second.bytes);
        mOutside.erase(it);
    }
}

uint64_t bytesUnder(const fs::path& dir) {
    uint64_t total = 0;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(dir, ec)) {
        std::error_code ec2;
        if (e.is_regular_file(ec2)) {
            total += e.file_size(ec2);
        }
    }
    return total;
}

std::optional<ContentStore::Upload> ContentStore::beginUpload(uint64_t size, uint64_t session) {
    const std::lock_guard<std::mutex> lock(mMutex);
    uint64_t& mine = mSessionReserved[session];
    const uint64_t share = mMaxBytes / limits::kShareScale * limits::kUploadShare;
    const bool withinShare = size <= share && mine <= share - size;
    if (!withinShare || !makeRoomLocked(size)) {
        // Only a request the store would grant if it had room makes slow uploads give way: a session
        // over its share is refused for its own sake.
        if (withinShare) {
            mLastShortage = std::chrono::steady_clock::now();
        }
        if (mine == 0) {
            mSessionReserved.erase(session);
        }
        return std::nullopt;
    }
    mine += size;
    mReserved += size;
    return Upload{mPartialDir / ("upload-" + std::to_string(++mNextTmp)), size, session};
}

void ContentStore::unreserveLocked(const Upload& upload) {
    mReserved -= upload.size;
    const auto it = mSessionReserved.find(upload.session);
    if (it != mSessionReserved.end() && (it->second -= std::min(it->second, upload.size)) == 0) {
        mSessionReserved.erase(it);
    }
}

uint64_t ContentStore::reservedBytes() const {
    const std::lock_guard<std::mutex> lock(mMutex);
    return mReserved;
}

bool ContentStore::shortOfRoomSince(std::chrono::steady_clock::time_point since) const {
    const std::lock_guard<std::mutex> lock(mMutex);
    return mLastShortage && *mLastShortage >= since;
}

bool ContentStore::claim(uint64_t size) {
    const std::lock_guard<std::mutex> lock(mMutex);
    if (!makeRoomLocked(size)) {
        return false;
    }
    mStored += size;
    return true;
}

void ContentStore::release(uint64_t size) {
    const std::lock_guard<std::mutex> lock(mMutex);
    mStored -= std::min(size, mStored);
}

bool ContentStore::commitUpload(const Upload& upload, const FileKey& key) {
    const std::lock_guard<std::mutex> lock(mMutex);
    unreserveLocked(upload);
    std::error_code ec;
    fs::rename(upload.tmp, pathOf(key), ec);
    if (ec) {
        fs::remove(upload.tmp, ec);
        return false;
    }
    Entry& e = mEntries[key];
    mStored = mStored - e.size + upload.size;  // the same key stored again replaces itself
    e.size = upload.size;
    e.lastUse = ++mClock;
    return true;
}

void ContentStore::abortUpload(const Upload& upload) {
    std::error_code ec;
    fs::remove(upload.tmp, ec);
    const std::lock_guard<std::mutex> lock(mMutex);
    unreserveLocked(upload);
}

uint64_t ContentStore::storedBytes() const {
    const std::lock_guard<std::mutex> lock(mMutex);
    return mStored;
}

}  // namespace kxservice
