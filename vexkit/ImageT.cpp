#include "vexkit/ImageT.h"

#include <algorithm>
#include <cmath>

namespace vexkit {

Image8UC1 rgbToGray(const Image8UC3& rgb) {
    Image8UC1 gray(rgb.width(), rgb.height());
    const Rgb8* src = rgb.data();
    uint8_t* dst = gray.data();
    for (size_t i = 0, n = rgb.size(); i < n; ++i) {
        const float luma = 0.587f * src[i].g + 0.299f * src[i].r + 0.114f * src[i].b;
        dst[i] = static_cast<uint8_t>(std::clamp(std::round(luma), 0.f, 255.f));
    }
    return gray;
}

}  // namespace vexkit
