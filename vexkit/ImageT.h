#pragma once
// Decoded images: row-major pixels, top row first, no padding between rows.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vexkit {

// One RGB pixel, 8 bits per channel, stored R, G, B.
struct Rgb8 {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
};
static_assert(sizeof(Rgb8) == 3, "RGB pixels are packed");

template <typename PixelT>
class ImageT {
public:
    using Pixel = PixelT;

    ImageT() = default;
    ImageT(uint32_t width, uint32_t height)
        : mWidth(width), mHeight(height), mData(static_cast<size_t>(width) * height) {}

    uint32_t width() const { return mWidth; }
    uint32_t height() const { return mHeight; }
    size_t size() const { return mData.size(); }
    bool empty() const { return mData.empty(); }

    Pixel* data() { return mData.data(); }
    const Pixel* data() const { return mData.data(); }
    Pixel& at(uint32_t x, uint32_t y) { return mData[static_cast<size_t>(y) * mWidth + x]; }
    const Pixel& at(uint32_t x, uint32_t y) const { return mData[static_cast<size_t>(y) * mWidth + x]; }
    Pixel* row(uint32_t y) { return mData.data() + static_cast<size_t>(y) * mWidth; }
    const Pixel* row(uint32_t y) const { return mData.data() + static_cast<size_t>(y) * mWidth; }

private:
    uint32_t mWidth = 0;
    uint32_t mHeight = 0;
    std::vector<Pixel> mData;
};

using Image8UC3 = ImageT<Rgb8>;
using Image8UC1 = ImageT<uint8_t>;

// Luma of each pixel: round(0.587 G + 0.299 R + 0.114 B) in single precision, half away from zero,
// clamped to 0..255.
Image8UC1 rgbToGray(const Image8UC3& rgb);

}  // namespace vexkit
