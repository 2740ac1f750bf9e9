#pragma once
// One upload or download of a task: the local file, what the service knows it by, and the reply that
// carries it while it runs.
#include <cstdint>
#include <filesystem>
#include <string>

#include "vexkit/FileKey.h"
#include "vexkit/FileType.h"

class QNetworkReply;

struct TransferItem {
    std::filesystem::path file;  // source of an upload, destination of a download
    FileKey key;
    uint64_t size = 0;  // bytes
    FileType type = FileType::kJpg;
    std::string url;  // empty until the service has answered
    QNetworkReply* reply = nullptr;
    uint64_t progress = 0;  // bytes transferred so far
    bool verified = false;  // an upload hashed again before it is sent, and sent only if it still has `key`
};
