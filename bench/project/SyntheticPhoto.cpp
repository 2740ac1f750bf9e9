#include "bench/project/SyntheticPhoto.h"

#include <cmath>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>

#include <turbojpeg.h>

namespace kxbench {

namespace {

uint32_t hash(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

uint8_t clamp8(float v) {
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

}  // namespace

std::string makeSyntheticJpeg(uint32_t width, uint32_t height, uint32_t seed, Detail detail) {
    const float amount = detail == Detail::kDetailed ? 1.0f : 0.0f;
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    const float phase = static_cast<float>(seed) * 0.7f;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const float u = static_cast<float>(x) / static_cast<float>(width);
            const float v = static_cast<float>(y) / static_cast<float>(height);
            // Fields and roads: large soft areas, parcels with sharp borders, fine texture and noise.
            const bool parcel = (static_cast<int>(u * 23 + phase) + static_cast<int>(v * 17)) % 3 == 0;
            const float texture = amount * 18 * std::sin(static_cast<float>(x) * 0.9f + phase) *
                                  std::sin(static_cast<float>(y) * 1.3f);
            const float fine = amount * 10 * std::sin(static_cast<float>(x + 2 * y) * 2.7f);
            // Sensor noise after demosaicing: mostly luminance, a little colour.
            const uint32_t h = hash(x * 7919u + y * 104729u + seed);
            const float noise = amount * (static_cast<float>(h % 13) - 6);
            const float tint = amount * (static_cast<float>((h >> 8) % 7) - 3);
            const float base = parcel ? 150 : 90;
            const size_t i = (static_cast<size_t>(y) * width + x) * 3;
            rgb[i + 0] = clamp8(base + 60 * u + texture + noise);
            rgb[i + 1] = clamp8(base + 40 * std::sin(6 * v + phase) + fine + noise);
            rgb[i + 2] = clamp8(base * 0.6f + 50 * v - texture + noise + tint);
        }
    }
    std::unique_ptr<void, int (*)(tjhandle)> tj(tjInitCompress(), &tjDestroy);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    if (tjCompress2(tj.get(), rgb.data(), static_cast<int>(width), 0, static_cast<int>(height), TJPF_RGB,
                    &out, &size, TJSAMP_420, 92, TJFLAG_ACCURATEDCT) != 0) {
        throw std::runtime_error(tjGetErrorStr2(tj.get()));
    }
    std::string jpeg(reinterpret_cast<const char*>(out), size);
    tjFree(out);
    return jpeg;
}

void writeTaggedCopy(const std::filesystem::path& path, const std::string& jpeg, const std::string& tag) {
    const uint16_t length = static_cast<uint16_t>(tag.size() + 2);
    std::string comment = "\xFF\xFE";
    comment += static_cast<char>(length >> 8);
    comment += static_cast<char>(length & 0xFF);
    comment += tag;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << jpeg.substr(0, 2) << comment << jpeg.substr(2);
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

}  // namespace kxbench
