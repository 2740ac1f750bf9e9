#pragma once
// Timing and input files shared by the imaging benchmarks.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <turbojpeg.h>

namespace kxbench {

// Best wall time of `rounds` runs of `f`, in seconds: the least disturbed run on a shared machine.
inline double bestSeconds(int rounds, const std::function<void()>& f) {
    double best = 1e300;
    for (int i = 0; i < rounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        f();
        best =
            std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

// JPEG bytes (4:2:0, quality 90) of a smooth pattern with texture, the size of a drone camera's photo.
inline std::string makeJpeg(uint32_t width, uint32_t height) {
    std::vector<unsigned char> rgb(size_t(width) * height * 3);
    uint32_t noise = 12345;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            noise = noise * 1664525u + 1013904223u;  // some texture, as in real photographs
            unsigned char* p = &rgb[(size_t(y) * width + x) * 3];
            const double s = 0.5 + 0.5 * std::sin(0.01 * x + 0.013 * y);
            p[0] = static_cast<unsigned char>((x * 255 / width + (noise >> 28)) & 0xff);
            p[1] = static_cast<unsigned char>((y * 255 / height + (noise >> 27 & 7)) & 0xff);
            p[2] = static_cast<unsigned char>(40 + 170 * s);
        }
    }
    std::unique_ptr<void, int (*)(void*)> tj(tjInitCompress(), &tjDestroy);
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    if (tjCompress2(tj.get(), rgb.data(), int(width), 0, int(height), TJPF_RGB, &jpeg, &size, TJSAMP_420, 90,
                    0) != 0) {
        throw std::runtime_error("tjCompress2 failed");
    }
    std::string bytes(reinterpret_cast<const char*>(jpeg), size);
    tjFree(jpeg);
    return bytes;
}

}  // namespace kxbench
