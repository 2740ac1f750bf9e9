#pragma once
// Writes coloured point clouds as binary little-endian PLY: one "vertex" element with float x, y, z
// and uchar red, green, blue.
#include <filesystem>
#include <vector>

#include "model/SfmTypes.h"

namespace ply {

// points and colors are parallel. Writes the file whole or not at all. Throws std::invalid_argument when
// the lists differ in length, std::runtime_error with the path when the file cannot be written.
void writeColoredPly(const std::filesystem::path& path, const std::vector<kxsfm::Vec3<float>>& points,
                     const std::vector<kxsfm::Color>& colors);

}  // namespace ply
