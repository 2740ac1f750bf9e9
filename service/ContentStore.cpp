#include "service/ContentStore.h"

#include <algorithm>

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
        std::error_code ec;
        for (const auto& e : fs::recursive_directory_iterator(folder, ec)) {
            if (e.is_regular_file(ec)) {
                mStored += e.file_size(ec);
            }
        }
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
    std::vector<std::pair<uint64_t, FileKey>> candidates;
    uint64_t evictable = 0;
    for (const auto& [key, e] : mEntries) {
        if (e.nbPins == 0) {
            candidates.emplace_back(e.lastUse, key);
            evictable += e.size;
        }
    }
    // Evict nothing when even evicting everything would not make room.
    if (size > mMaxBytes || mStored - evictable + mReserved > mMaxBytes - size) {
        return false;
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& c : candidates) {
        if (fits()) {
            break;
        }
        const FileKey& key = c.second;
        std::error_code ec;
        fs::remove(pathOf(key), ec);
        mStored -= mEntries[key].size;
        mEntries.erase(key);
        logLine("store: evicted " + key.str());
    }
    return fits();
}

std::optional<ContentStore::Upload> ContentStore::beginUpload(uint64_t size) {
    const std::lock_guard<std::mutex> lock(mMutex);
    if (!makeRoomLocked(size)) {
        return std::nullopt;
    }
    mReserved += size;
    return Upload{mPartialDir / ("upload-" + std::to_string(++mNextTmp)), size};
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
    mReserved -= upload.size;
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
    mReserved -= upload.size;
}

uint64_t ContentStore::storedBytes() const {
    const std::lock_guard<std::mutex> lock(mMutex);
    return mStored;
}

}  // namespace kxservice
