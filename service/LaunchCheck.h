#pragma once
// The reading and checking of a launch's inputs, apart from the session so that it can run on the input
// reader's thread: the configuration or sparse model is read only when its stored size is within the
// caps (service/Limits.h), and every key it names must be stored.
#include <optional>
#include <variant>
#include <vector>

#include "protocol/ProtoTypes.h"
#include "service/Engine.h"

namespace kxservice {

class ContentStore;

// A job ready to be queued with its inputs pinned in the store, or the refusal (inputs unpinned).
struct PreparedLaunch {
    std::optional<std::variant<SfmJob, MvsJob>> job;
    std::vector<FileKey> pinned;
    user_proto::TaskError refusal;
};

PreparedLaunch prepareSfm(ContentStore& store, const FileKey& config);
PreparedLaunch prepareMvs(ContentStore& store, const FileKey& sparseModel,
                          const std::vector<FileKey>& images);

// How many different keys the list holds.
size_t countDistinct(std::vector<FileKey> keys);

}  // namespace kxservice
