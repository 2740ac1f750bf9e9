#pragma once
// TurboJPEG steps shared by the full and the scaled JPEG decode. Defined in ImageReader.cpp, so that their
// failures report the reader's unit whichever decode ran.
#include <memory>
#include <utility>
#include <vector>

#include "vexkit/ImageT.h"

namespace vexkit::jpeg {

struct TjDestroy {
    // Only warns: a handle that fails to go away must not turn a finished decode into an error.
    void operator()(void* h) const noexcept;
};
using TjHandle = std::unique_ptr<void, TjDestroy>;

TjHandle makeDecompressor();
// Width and height from the header in memory; assertion failure for data that is not a readable JPEG.
std::pair<int, int> readHeader(const TjHandle& tj, std::vector<unsigned char>& jpegData);
// Decodes to RGB with the accurate DCT at the given output size, which must be the header size or one of
// TurboJPEG's scaled sizes of it.
Image8UC3 decompressRgb(const TjHandle& tj, std::vector<unsigned char>& jpegData, int width, int height);

}  // namespace vexkit::jpeg
