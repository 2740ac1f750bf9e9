#pragma once
// Timing and input files shared by the imaging benchmarks.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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
std::string makeJpeg(uint32_t width, uint32_t height);

}  // namespace kxbench
