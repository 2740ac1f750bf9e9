#include "remote/TaskInputs.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>
#include <variant>

#include <fcntl.h>
#include <unistd.h>

#include "model/KsmModel.h"
#include "vexkit/Md5.h"

namespace remote {
namespace {
std::filesystem::path checkedFile(const std::filesystem::path& file) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
        throw TaskInputError("missing image", file);
    }
    return file;
}
FileType typeOf(const std::filesystem::path& file) {
    try {
        return fileTypeOf(getFileExtension(file));
    } catch (const std::runtime_error& e) {
        throw TaskInputError(e.what(), file);
    }
}
bool isImageType(FileType type) {
    return type == FileType::kJpg || type == FileType::kAvif || type == FileType::kHeif ||
           type == FileType::kJxl;
}
}  // namespace

TaskInputError::TaskInputError(const std::string& reason, std::filesystem::path file)
    : vexkit::Exception(reason), file(std::move(file)) {}

bool isHexKey(const FileKey& key) {
    return std::all_of(key.data.begin(), key.data.end(),
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

std::vector<UploadInput> sfmInputs(const SfmCfg& cfg) {
    std::vector<UploadInput> inputs;
    for (const SfmCfg::Image& image : cfg.images) {
        const std::filesystem::path file = std::filesystem::u8path(image.name);
        const FileType type = typeOf(file);
        checkedFile(file);
        if (!isHexKey(image.key)) {
            throw TaskInputError("invalid key", file);
        }
        inputs.push_back({file, type, image.key});
    }
    return inputs;
}

std::vector<UploadInput> mvsInputs(const std::filesystem::path& sparseModel) {
    const auto model = std::get<ksm::Model<1u>>(ksm::loadKsm(sparseModel));
    std::vector<UploadInput> inputs;
    for (const ksm::Capture& capture : model.captures) {
        const std::filesystem::path file = std::filesystem::u8path(capture.imagePath);
        const FileType type = typeOf(file);
        if (!isImageType(type)) {
            throw TaskInputError("not an image", file);
        }
        inputs.push_back({checkedFile(file), type, FileKey(encodeHex(capture.imageDigest))});
    }
    return inputs;
}

void checkResultName(const std::string& name) {
    const std::filesystem::path path(name);
    if (name.empty() || name == "." || name == ".." || path.filename() != path) {
        throw TaskInputError("invalid result name", path);
    }
}

void checkWritableDirectory(const std::filesystem::path& dir) {
    // A file made and removed again: permissions alone do not tell (read-only mounts, ACLs, root).
    const std::filesystem::path probe = dir / (".kx-write-check-" + std::to_string(::getpid()));
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        throw TaskInputError(std::string("The project directory cannot be written: ") + std::strerror(errno),
                             dir);
    }
    ::close(fd);
    std::error_code ignored;
    std::filesystem::remove(probe, ignored);
}

}  // namespace remote
