#pragma once
// The mapper may split a reconstruction into several sub-models (folders 0, 1, ... of its output);
// the task keeps the one that registered the most images.
#include <cstdint>
#include <filesystem>
#include <optional>

namespace kxcolmap {

struct SubModelSize {
    uint64_t nbImages = 0;
    uint64_t nbPoints = 0;
    bool operator<(const SubModelSize& o) const {
        return nbImages != o.nbImages ? nbImages < o.nbImages : nbPoints < o.nbPoints;
    }
};

// The counts at the head of a binary sub-model's images.bin and points3D.bin; empty when either file
// is missing or shorter than its count.
std::optional<SubModelSize> readSubModelSize(const std::filesystem::path& dir);

struct SubModel {
    std::filesystem::path dir;
    SubModelSize size;
};

// The sub-model with the most registered images (then points) under the mapper's output folder; empty
// when there is none with at least one image.
std::optional<SubModel> largestSubModel(const std::filesystem::path& output);

}  // namespace kxcolmap
