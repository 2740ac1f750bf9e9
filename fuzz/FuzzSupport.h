#pragma once
// Shared by the fuzz targets of readers that take a path: a scratch file of this process, quiet libraries,
// and the rule that only a std::exception may leave a reader (anything else ends the run as a finding).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include <exiv2/error.hpp>

namespace kxfuzz {

// Inputs whose header claims more pixels than this are measured but not decoded: a decode of an image
// near the reader's own limit is legitimate but takes seconds, which would stall the search.
constexpr uint64_t kDecodeBudgetPixels = uint64_t(1) << 22;

// Writes the bytes to a file in the temporary directory, one per process and extension, reused for every
// input; returns its path.
inline std::string writeScratch(const char* extension, const void* data, size_t size) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("kx-fuzz-" + std::to_string(::getpid()) + extension))
            .string();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::abort();
    }
    return path;
}

// Runs `f`; a std::exception is an accepted outcome.
template <typename F>
bool attempt(F&& f) {
    try {
        f();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace kxfuzz

// Assertion texts go to standard output and exiv2 warns on standard error for nearly every input: the
// targets that include this run quiet.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!std::freopen("/dev/null", "w", stdout)) {
        std::abort();
    }
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    return 0;
}
