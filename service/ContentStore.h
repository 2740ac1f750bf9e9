#pragma once
// The files uploaded to the service, one per content key, in <dir>/<key>. An upload is written to a
// temporary file under <dir>/partial and renamed into place only when complete and verified, so a store
// file always holds exactly the bytes of its key. The store keeps to a byte budget: room for an upload
// is made by evicting the least recently used files that no task holds.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "vexkit/FileKey.h"

namespace kxservice {

class ContentStore {
public:
    // Creates the directory if needed, removes partial uploads left by an earlier run and indexes the
    // files present; the files below counted folders (an engine's caches) count against the budget too.
    // Throws std::filesystem::filesystem_error when the directory is unusable.
    ContentStore(std::filesystem::path dir, uint64_t maxBytes,
                 const std::vector<std::filesystem::path>& counted = {});

    // Whether the key is stored (counts as a use for eviction).
    bool has(const FileKey& key);
    std::filesystem::path pathOf(const FileKey& key) const { return mDir / key.str(); }

    // Holds every key against eviction, or none: false with the missing keys (each listed once) when
    // any is not stored.
    bool pinAll(const std::vector<FileKey>& keys, std::vector<FileKey>& missing);
    void unpinAll(const std::vector<FileKey>& keys);

    // Room for one upload of size bytes by a session, reserved until it is committed or aborted; empty
    // when the budget cannot hold it even after evicting every file that no task holds, or when the
    // session's unfinished uploads would pass their share of the budget (limits::kUploadShare).
    struct Upload {
        std::filesystem::path tmp;
        uint64_t size = 0;
        uint64_t session = 0;
    };
    std::optional<Upload> beginUpload(uint64_t size, uint64_t session = 0);
    // Moves the verified temporary file into place under key; false (and the file removed) on failure.
    bool commitUpload(const Upload& upload, const FileKey& key);
    void abortUpload(const Upload& upload);

    // Room for size bytes that the service keeps outside the store for good (a cache file), made as for
    // an upload; false when the budget cannot hold them.
    bool claim(uint64_t size);
    void release(uint64_t size);

    // Directories the service writes outside the store (a task's), counted against the budget from
    // when their task ends: account() counts one, markRemovable() lets the store remove it for room
    // (removable directories go before any input, oldest first), forget() gives its bytes back when its
    // owner removed it.
    void account(const std::filesystem::path& dir, uint64_t bytes);
    void markRemovable(const std::filesystem::path& dir);
    void forget(const std::filesystem::path& dir);

    uint64_t storedBytes() const;
    uint64_t reservedBytes() const;  // by unfinished uploads
    // Whether an upload was refused for want of room since that time: slow uploads then give way.
    bool shortOfRoomSince(std::chrono::steady_clock::time_point since) const;

private:
    struct Entry {
        uint64_t size = 0;
        uint64_t lastUse = 0;
        uint32_t nbPins = 0;
    };
    bool makeRoomLocked(uint64_t size);

    std::filesystem::path mDir;
    std::filesystem::path mPartialDir;
    uint64_t mMaxBytes;
    mutable std::mutex mMutex;
    std::unordered_map<FileKey, Entry> mEntries;
    uint64_t mStored = 0;
    uint64_t mReserved = 0;
    uint64_t mClock = 0;  // use counter: a strict order, unlike file times
    uint64_t mNextTmp = 0;
    std::unordered_map<uint64_t, uint64_t> mSessionReserved;
    struct Outside {
        uint64_t bytes = 0;
        uint64_t removableSince = 0;  // use counter when marked removable; 0 while kept
    };
    std::unordered_map<std::string, Outside> mOutside;  // bytes of unfinished uploads
    std::optional<std::chrono::steady_clock::time_point> mLastShortage;
    void unreserveLocked(const Upload& upload);
};

// The bytes of the regular files below dir (0 when it does not exist).
uint64_t bytesUnder(const std::filesystem::path& dir);

// Whether the text is a content key as the store names files: 32 lowercase hexadecimal characters.
bool isHexKey(const FileKey& key);

}  // namespace kxservice
