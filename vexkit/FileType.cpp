#include "vexkit/FileType.h"

#include <stdexcept>
#include <utility>

namespace {
constexpr std::pair<const char*, FileType> kExtensions[] = {
    {".jpg", FileType::kJpg},   {".jpeg", FileType::kJpg},  {".avif", FileType::kAvif},
    {".heif", FileType::kHeif}, {".heic", FileType::kHeif}, {".jxl", FileType::kJxl},
    {".json", FileType::kJson}, {".yaml", FileType::kYaml}, {".yml", FileType::kYaml},
    {".ply", FileType::kPly},   {".nvm", FileType::kNvm},   {".ksm", FileType::kKsm},
};
constexpr const char* kCanonical[] = {".jpg",  ".avif", ".heif", ".jxl", ".json",
                                      ".yaml", ".ply",  ".nvm",  ".ksm"};
}  // namespace

std::string getFileExtension(const std::filesystem::path& file) {
    std::string ext = file.extension().u8string();
    // ASCII only: every known extension is ASCII, and a locale's tolower would turn "I" into a dotless
    // i under Turkish rules or rewrite the bytes of UTF-8 sequences under a single-byte locale.
    for (char& c : ext) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return ext;
}

FileType fileTypeOf(const std::string& extension) {
    for (const auto& [text, type] : kExtensions) {
        if (extension == text) {
            return type;
        }
    }
    throw std::runtime_error("unknown extension");
}

const char* extensionOf(FileType type) {
    const auto index = static_cast<uint32_t>(type);
    if (index >= std::size(kCanonical)) {
        throw std::logic_error("invalid file type");
    }
    return kCanonical[index];
}
