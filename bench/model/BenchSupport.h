#pragma once
// Timing, peak memory and the plain-read baseline shared by the model benchmarks.
#include <malloc.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>

namespace kxbench {

// A scratch directory under the system temp directory, removed with its files.
class ScratchDir {
public:
    ScratchDir() {
        mPath =
            std::filesystem::temp_directory_path() / ("kx-bench-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(mPath);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(mPath, ec);
    }
    std::filesystem::path operator/(const std::string& name) const { return mPath / name; }

private:
    std::filesystem::path mPath;
};

// Best wall time in seconds of `repeats` runs.
template <typename F>
double bestSeconds(int repeats, F&& run) {
    double best = 1e300;
    for (int i = 0; i < repeats; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        run();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return best;
}

// The baseline: the whole file into a freshly allocated buffer. Returns a byte of it so the read stays.
inline unsigned plainRead(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    const auto size = static_cast<size_t>(std::filesystem::file_size(path));
    std::unique_ptr<char[]> buffer(new char[size]);
    in.read(buffer.get(), static_cast<std::streamsize>(size));
    if (!in) {
        throw std::runtime_error("plain read failed");
    }
    return static_cast<unsigned char>(buffer[size / 2]);
}

// Resident memory from /proc/self/status ("VmRSS" or "VmHWM"), in bytes.
inline uint64_t statusBytes(const std::string& key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + ":", 0) == 0) {
            return std::stoull(line.substr(key.size() + 1)) * 1024;
        }
    }
    return 0;
}

// Large blocks come straight from the system and go back when freed, so that memory left over from an
// earlier run does not hide the peak of the next one.
inline void fixAllocatorThresholds() {
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    mallopt(M_TRIM_THRESHOLD, 1024 * 1024);
}

// Peak resident memory that `run` adds over what was resident before it.
template <typename F>
uint64_t peakExtraBytes(F&& run) {
    std::ofstream("/proc/self/clear_refs") << "5";  // resets the peak to the current size
    const uint64_t before = statusBytes("VmRSS");
    run();
    return statusBytes("VmHWM") - before;
}

inline double mib(uint64_t bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

}  // namespace kxbench
