#pragma once
// The destination of one download: the bytes go to a temporary file beside the destination and replace
// it only once the whole file arrived with the declared size and MD5, so a failed download never
// destroys an earlier good result.
#include <cstdint>
#include <filesystem>

#include <QCryptographicHash>
#include <QObject>
#include <QTemporaryFile>

#include "vexkit/FileKey.h"

class DownloadFile : public QObject {
public:
    enum class Written { kOk, kTooLong, kFailed };

    DownloadFile(std::filesystem::path destination, uint64_t size, const FileKey& key, QObject* parent);

    // Creates the temporary file; false when it cannot be created.
    bool open();
    // Appends bytes; kTooLong once more than the declared size arrived (nothing more is written).
    Written write(const char* data, int64_t length);
    // True when exactly the declared size arrived and its MD5 is the key.
    bool complete();
    // Moves the temporary file over the destination; false when that fails (the destination then stays).
    bool commit();

private:
    std::filesystem::path mDestination;
    uint64_t mSize;
    FileKey mKey;
    uint64_t mWritten = 0;
    QTemporaryFile mFile;
    QCryptographicHash mHash{QCryptographicHash::Md5};
};
