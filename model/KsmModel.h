#pragma once
// The sparse model read from a ".ksm" file, and the reading operation.
#include <cstdint>
#include <filesystem>
#include <istream>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "model/SfmTypes.h"

namespace ksm {

struct Measurement {
    uint32_t pointIdx{};       // into Model::points
    kxsfm::Vec2<float> extra;  // carried through, not used by the client
    bool operator==(const Measurement& o) const { return pointIdx == o.pointIdx && extra == o.extra; }
    bool operator!=(const Measurement& o) const { return !(*this == o); }
};

// One input image of the reconstruction.
struct Capture {
    uint32_t cameraIdx{};  // into Model::cameras and Model::cameraImageSizes
    uint32_t poseIdx{};    // into Model::poses
    std::vector<Measurement> measurements;
    std::string imagePath;                  // UTF-8 bytes, kept as stored
    std::array<uint32_t, 4> imageDigest{};  // MD5 words of the source image, as vexkit::Md5Digest
    bool operator==(const Capture& o) const {
        return cameraIdx == o.cameraIdx && poseIdx == o.poseIdx && measurements == o.measurements &&
               imagePath == o.imagePath && imageDigest == o.imageDigest;
    }
    bool operator!=(const Capture& o) const { return !(*this == o); }
};

template <uint32_t Version>
struct Model;

// Indices inside the model are not checked on reading: consumers check them where they index.
template <>
struct Model<1u> {
    std::vector<kxsfm::Pose> poses;
    std::vector<kxsfm::RealCamera> cameras;
    std::vector<kxsfm::Vec2<uint32_t>> cameraImageSizes;  // width, height; parallel to cameras
    std::vector<kxsfm::Vec3<float>> points;
    std::vector<kxsfm::Color> colors;  // parallel to points
    std::vector<Capture> captures;
    bool operator==(const Model& o) const {
        return poses == o.poses && cameras == o.cameras && cameraImageSizes == o.cameraImageSizes &&
               points == o.points && colors == o.colors && captures == o.captures;
    }
    bool operator!=(const Model& o) const { return !(*this == o); }
};

// Index 0: no usable model; index 1: the version-1 model.
using KestrixSparseModel = std::variant<std::monostate, Model<1u>>;

// The fixed header: magic (little-endian 64-bit) and the only version understood.
constexpr uint64_t kMagic = 0x974c0afe86e6dfdbull;
constexpr uint32_t kVersion = 1;

// Reads a sparse model. A file that cannot be opened, or whose magic or version is not understood,
// gives the empty alternative. Malformed content throws cereal::Exception (a std::runtime_error)
// "Failed to read N bytes from input stream! Read M" naming the item that was cut; a list count is
// never trusted beyond the bytes that remain, so a few bytes never make the reader allocate much.
KestrixSparseModel loadKsm(std::istream& in);
// The same from a file; malformed content throws vexkit::FileError naming the file, with the text above.
KestrixSparseModel loadKsm(const std::filesystem::path& path);

}  // namespace ksm

using ksm::KestrixSparseModel;

// The reader fills these records straight from the archive bytes.
static_assert(sizeof(kxsfm::Pose) == 40 && std::is_trivially_copyable_v<kxsfm::Pose>);
static_assert(sizeof(kxsfm::RealCamera) == 36 && std::is_trivially_copyable_v<kxsfm::RealCamera>);
static_assert(sizeof(kxsfm::Vec2<uint32_t>) == 8 && sizeof(kxsfm::Vec3<float>) == 12);
static_assert(sizeof(kxsfm::Color) == 3 && sizeof(ksm::Measurement) == 12);
static_assert(std::is_trivially_copyable_v<ksm::Measurement>);
