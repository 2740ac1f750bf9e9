#pragma once
// The mapper's image folder for one task: each configured image under a name of its own, linked to
// the stored file, or converted to JPEG where the mapper cannot read the format (HEIF, AVIF).
#include <filesystem>
#include <string>

#include "vexkit/FileType.h"

namespace kxcolmap {

// The name of configured image i in the mapper's folder (its order in the configuration, so that two
// images with the same content stay two images).
std::string mapperName(size_t index);

// Puts the stored file at folder / name. Throws std::runtime_error with the reason when it cannot
// (an undecodable HEIF or AVIF file, a folder that cannot be written).
void placeImage(const std::filesystem::path& stored, FileType format, const std::filesystem::path& target);

}  // namespace kxcolmap
