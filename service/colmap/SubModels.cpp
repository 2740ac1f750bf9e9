#include "service/colmap/SubModels.h"

#include <fstream>
#include <system_error>

namespace kxcolmap {
namespace {

// The binary export starts each file with its element count, a little-endian 64-bit number.
std::optional<uint64_t> leadingCount(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    unsigned char b[8];
    if (!in.read(reinterpret_cast<char*>(b), sizeof b)) {
        return std::nullopt;
    }
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) {
        v = (v << 8) | b[i];
    }
    return v;
}

}  // namespace

std::optional<SubModelSize> readSubModelSize(const std::filesystem::path& dir) {
    const auto images = leadingCount(dir / "images.bin");
    const auto points = leadingCount(dir / "points3D.bin");
    if (!images || !points) {
        return std::nullopt;
    }
    return SubModelSize{*images, *points};
}

std::optional<SubModel> largestSubModel(const std::filesystem::path& output) {
    std::optional<SubModel> best;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(output, ec)) {
        if (!entry.is_directory(ec)) {
            continue;
        }
        const auto size = readSubModelSize(entry.path());
        if (size && size->nbImages > 0 && (!best || best->size < *size)) {
            best = SubModel{entry.path(), *size};
        }
    }
    return best;
}

}  // namespace kxcolmap
