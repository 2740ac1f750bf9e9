#include "remote/DownloadFile.h"

#include <system_error>
#include <utility>

#include "vexkit/Paths.h"

DownloadFile::DownloadFile(std::filesystem::path destination, uint64_t size, const FileKey& key,
                           QObject* parent)
    : QObject(parent), mDestination(std::move(destination)), mSize(size), mKey(key) {
    // Hidden, in the destination's directory, so that the final rename stays on one filesystem.
    const std::filesystem::path dir = mDestination.parent_path();
    mFile.setFileTemplate(toQStr(dir / ("." + mDestination.filename().u8string() + ".XXXXXX.part")));
}

bool DownloadFile::open() {
    return mFile.open();
}

DownloadFile::Written DownloadFile::write(const char* data, int64_t length) {
    if (static_cast<uint64_t>(length) > mSize - mWritten) {
        return Written::kTooLong;
    }
    if (mFile.write(data, length) != length) {
        return Written::kFailed;
    }
    mHash.addData(data, static_cast<int>(length));
    mWritten += static_cast<uint64_t>(length);
    return Written::kOk;
}

bool DownloadFile::complete() {
    if (!mFile.flush() || mWritten != mSize) {
        return false;
    }
    const QByteArray hex = mHash.result().toHex();
    return hex == QByteArray(mKey.data.data(), static_cast<int>(mKey.data.size()));
}

bool DownloadFile::commit() {
    // A temporary file is private to its owner; a result is as readable as any file the user saves.
    mFile.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                         QFileDevice::WriteUser | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    mFile.close();
    std::error_code ec;
    std::filesystem::rename(toPath(mFile.fileName()), mDestination, ec);
    if (ec) {
        return false;
    }
    mFile.setAutoRemove(false);
    return true;
}
