#include "service/LaunchCheck.h"

#include <algorithm>
#include <fstream>
#include <unordered_set>

#include "config/SfmCfgJson.h"
#include "model/KsmCheck.h"
#include "service/ClientSession.h"
#include "service/ContentStore.h"
#include "service/Limits.h"

namespace fs = std::filesystem;

namespace kxservice {

namespace {

// Pins held for a launch under preparation: given back unless the launch is handed on.
class Pins {
public:
    explicit Pins(ContentStore& store) : mStore(store) {}
    ~Pins() { mStore.unpinAll(mKeys); }
    bool add(const std::vector<FileKey>& keys, std::vector<FileKey>& missing) {
        if (!mStore.pinAll(keys, missing)) {
            return false;
        }
        mKeys.insert(mKeys.end(), keys.begin(), keys.end());
        return true;
    }
    std::vector<FileKey> release() { return std::move(mKeys); }

private:
    ContentStore& mStore;
    std::vector<FileKey> mKeys;
};

PreparedLaunch refusal(uint32_t code, std::string message, std::vector<FileKey> missing = {}) {
    PreparedLaunch out;
    out.refusal = {code, std::move(message), std::move(missing)};
    return out;
}

// Pins the launch's main input and checks its stored size, before anything of it is read: a refusal,
// or nothing when it may be read.
std::optional<PreparedLaunch> pinWithinCap(Pins& pins, ContentStore& store, const FileKey& key, uint64_t cap,
                                           const std::string& what) {
    std::vector<FileKey> missing;
    if (!pins.add({key}, missing)) {
        return refusal(kMissingFiles, what + " is not stored", missing);
    }
    std::error_code ec;
    const uint64_t size = fs::file_size(store.pathOf(key), ec);
    if (ec || size <= cap) {
        return std::nullopt;
    }
    return refusal(kUnreadableInput, what + " of " + std::to_string(size) + " bytes is over the cap of " +
                                         std::to_string(cap) + " bytes");
}

// The parser recurses once per nesting level: deeper texts are refused before they reach it. Read in
// chunks, so that the check holds no second copy of the text.
bool nestedTooDeep(std::istream& in) {
    size_t depth = 0;
    bool inString = false, escaped = false;
    char chunk[1 << 16];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        for (std::streamsize i = 0; i < in.gcount(); ++i) {
            const char c = chunk[i];
            if (escaped) {
                escaped = false;
            } else if (inString) {
                escaped = c == '\\';
                inString = c != '"';
            } else if (c == '"') {
                inString = true;
            } else if (c == '[' || c == '{') {
                if (++depth > limits::kMaxJsonDepth) {
                    return true;
                }
            } else if ((c == ']' || c == '}') && depth > 0) {
                --depth;
            }
        }
    }
    in.clear();
    in.seekg(0);
    return false;
}

std::optional<PreparedLaunch> photographsRefused(const std::vector<FileKey>& keys) {
    if (keys.size() > limits::kMaxPhotographs) {
        return refusal(kInconsistentInput, "the task names " + std::to_string(keys.size()) +
                                               " photographs, over the cap of " +
                                               std::to_string(limits::kMaxPhotographs));
    }
    std::unordered_set<FileKey> seen;
    for (const FileKey& k : keys) {
        if (!seen.insert(k).second) {
            return refusal(kInconsistentInput, "the configuration names photograph " + k.str() + " twice");
        }
    }
    return std::nullopt;
}

}  // namespace

size_t countDistinct(std::vector<FileKey> keys) {
    std::sort(keys.begin(), keys.end(), [](const FileKey& a, const FileKey& b) { return a.data < b.data; });
    return size_t(std::unique(keys.begin(), keys.end()) - keys.begin());
}

PreparedLaunch prepareSfm(ContentStore& store, const FileKey& config) {
    Pins pins(store);
    if (auto refused = pinWithinCap(pins, store, config, limits::kMaxConfigBytes, "the configuration")) {
        return std::move(*refused);
    }
    const fs::path path = store.pathOf(config);
    SfmJob job;
    job.configKey = config;
    try {
        std::ifstream in(path, std::ios::binary);
        if (nestedTooDeep(in)) {
            return refusal(kUnreadableInput, "the configuration nests deeper than " +
                                                 std::to_string(limits::kMaxJsonDepth) + " levels");
        }
        job.cfg = readSfmCfg(in);
    } catch (const std::exception& e) {
        return refusal(kUnreadableInput, std::string("the configuration does not read: ") + e.what());
    }
    std::vector<FileKey> images;
    for (size_t i = 0; i < job.cfg.images.size(); ++i) {
        const SfmCfg::Image& img = job.cfg.images[i];
        if (img.idxCam >= job.cfg.cameras.size()) {
            return refusal(kInconsistentInput, "image " + std::to_string(i) + " names camera " +
                                                   std::to_string(img.idxCam) + " of " +
                                                   std::to_string(job.cfg.cameras.size()));
        }
        images.push_back(img.key);
    }
    if (images.empty()) {
        return refusal(kInconsistentInput, "the configuration names no image");
    }
    if (auto refused = photographsRefused(images)) {
        return std::move(*refused);
    }
    std::vector<FileKey> missing;
    if (!pins.add(images, missing)) {
        return refusal(kMissingFiles, std::to_string(missing.size()) + " input files are not stored",
                       missing);
    }
    PreparedLaunch out;
    out.job = std::move(job);
    out.pinned = pins.release();
    return out;
}

PreparedLaunch prepareMvs(ContentStore& store, const FileKey& sparseModel,
                          const std::vector<FileKey>& images) {
    Pins pins(store);
    if (auto refused =
            pinWithinCap(pins, store, sparseModel, limits::kMaxSparseModelBytes, "the sparse model")) {
        return std::move(*refused);
    }
    const fs::path path = store.pathOf(sparseModel);
    if (images.size() > limits::kMaxPhotographs) {
        return std::move(*photographsRefused(images));
    }
    MvsJob job;
    job.ksmKey = sparseModel;
    job.images = images;
    try {
        // Read from a stream: the reader's errors then name no path of the store to the client.
        std::ifstream in(path, std::ios::binary);
        KestrixSparseModel model = ksm::loadKsm(in);
        if (model.index() != 1) {
            return refusal(kUnreadableInput, "the sparse model is not a version-1 model");
        }
        job.model = std::move(std::get<1>(model));
    } catch (const std::exception& e) {
        return refusal(kUnreadableInput, std::string("the sparse model does not read: ") + e.what());
    }
    const auto& m = job.model;
    if (m.captures.size() != images.size()) {
        return refusal(kInconsistentInput, "the model has " + std::to_string(m.captures.size()) +
                                               " captures but " + std::to_string(images.size()) +
                                               " images were named");
    }
    if (const std::string fault = ksm::inconsistency(m); !fault.empty()) {
        return refusal(kInconsistentInput, fault);
    }
    std::vector<FileKey> missing;
    if (!pins.add(images, missing)) {
        return refusal(kMissingFiles, std::to_string(missing.size()) + " images are not stored", missing);
    }
    PreparedLaunch out;
    out.job = std::move(job);
    out.pinned = pins.release();
    return out;
}

}  // namespace kxservice
