// A launch's inputs on arbitrary bytes, stored as an SfM configuration and as an MVS sparse model: the
// outcome is a job or a refusal with its reason; nothing else may escape or crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "service/ContentStore.h"
#include "service/LaunchCheck.h"
#include "vexkit/Md5.h"

namespace {

kxservice::ContentStore& store() {
    static kxservice::ContentStore instance(
        std::filesystem::temp_directory_path() / ("kx-fuzz-launch-" + std::to_string(getpid())), uint64_t(1)
                                                                                                     << 30);
    return instance;
}

void check(kxservice::PreparedLaunch prepared) {
    if (prepared.job.has_value() == !prepared.refusal.message.empty()) {
        std::abort();
    }
    store().unpinAll(prepared.pinned);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const FileKey key(encodeHex({1, 2, 3, 4}));
    const auto upload = store().beginUpload(size);
    std::ofstream(upload->tmp, std::ios::binary)
        .write(reinterpret_cast<const char*>(data), std::streamsize(size));
    if (!store().commitUpload(*upload, key)) {
        std::abort();
    }
    check(kxservice::prepareSfm(store(), key));
    check(kxservice::prepareMvs(store(), key, {key}));
    return 0;
}
