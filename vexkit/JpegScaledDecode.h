#pragma once
// A fast JPEG decode for thumbnails: TurboJPEG scales in the DCT instead of decoding every pixel.
#include <cstdint>

#include "vexkit/ImageT.h"

namespace vexkit {

// Decodes `path` to RGB (accurate DCT) at the smallest of TurboJPEG's scaling factors whose scaled width is
// at least `minWidth` and scaled height at least `minHeight`; at full size when no smaller factor qualifies.
// A file that is not a readable JPEG fails as the full decode does.
Image8UC3 decodeJpegAtLeast(const char* path, uint32_t minWidth, uint32_t minHeight);

}  // namespace vexkit
