#include "vexkit/JpegScaledDecode.h"

#include <turbojpeg.h>

#include "vexkit/JpegCodec.h"
#include "vexkit/cpp_utils.h"

namespace vexkit {

Image8UC3 decodeJpegAtLeast(const char* path, uint32_t minWidth, uint32_t minHeight) {
    std::vector<unsigned char> jpegData = loadBinaryFile<unsigned char>(path);
    const jpeg::TjHandle tj = jpeg::makeDecompressor();
    const auto [width, height] = jpeg::readHeader(tj, jpegData);
    int nbFactors = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&nbFactors);
    int bestWidth = width;
    int bestHeight = height;
    for (int i = 0; factors && i < nbFactors; ++i) {
        const tjscalingfactor f = factors[i];
        const int w = TJSCALED(width, f);
        const int h = TJSCALED(height, f);
        // Only reductions count; a smaller width always comes with a height no larger.
        if (f.num < f.denom && w < bestWidth && uint32_t(w) >= minWidth && uint32_t(h) >= minHeight) {
            bestWidth = w;
            bestHeight = h;
        }
    }
    return jpeg::decompressRgb(tj, jpegData, bestWidth, bestHeight);
}

}  // namespace vexkit
