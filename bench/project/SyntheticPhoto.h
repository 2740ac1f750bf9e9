#pragma once
// Photograph-like JPEG files for benchmarks: gradients, fine texture, sharp edges and sensor-like noise,
// so that decoding and scaling meet the detail of real aerial photographs.
#include <cstdint>
#include <filesystem>
#include <string>

namespace kxbench {

// kDetailed has the fine texture and noise of an aerial photograph (about 6.7 MB at 20 megapixels);
// kSmooth only gradients and soft shapes (a few hundred kB), where entropy decoding costs little.
enum class Detail { kSmooth, kDetailed };

// JPEG bytes (quality 92, 4:2:0) of a synthetic photograph; `seed` varies the content.
std::string makeSyntheticJpeg(uint32_t width, uint32_t height, uint32_t seed, Detail detail);

// Writes `jpeg` with a comment segment naming `tag` after the start marker, so that copies differ in content.
void writeTaggedCopy(const std::filesystem::path& path, const std::string& jpeg, const std::string& tag);

}  // namespace kxbench
