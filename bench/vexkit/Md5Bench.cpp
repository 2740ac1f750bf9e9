// Throughput of md5sumHex over a large file in the page cache, as ratios to baselines measured in the
// same run: a plain read of the same file in the same 256 KiB pieces, and the digest engine alone over
// the same bytes already in memory.
//   bench_vexkit_md5 [MiB=256] [repetitions=5]
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include <boost/uuid/detail/md5.hpp>

#include "vexkit/Md5.h"

namespace {
constexpr std::streamsize kPiece = 256 * 1024;

template <typename F>
double bestSeconds(int repetitions, F&& run) {
    double best = 1e30;
    for (int i = 0; i < repetitions; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count());
    }
    return best;
}

// Reads the file as md5sum does and folds every byte, so the reads cannot be optimised away.
unsigned plainRead(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const auto buffer = std::make_unique<char[]>(kPiece);
    unsigned fold = 0;
    while (in.good()) {
        in.read(buffer.get(), kPiece);
        for (std::streamsize i = 0; i < in.gcount(); i += 64) {
            fold += static_cast<unsigned char>(buffer[i]);
        }
    }
    return fold;
}
}  // namespace

int main(int argc, char** argv) {
    const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const int repetitions = argc > 2 ? std::atoi(argv[2]) : 5;
    if (mib == 0 || repetitions <= 0) {
        std::fprintf(stderr, "usage: %s [MiB>0] [repetitions>0]\n", argv[0]);
        return 2;
    }
    const size_t size = mib * 1024 * 1024;
    std::vector<char> data(size);
    std::mt19937_64 gen(7);
    for (size_t i = 0; i + 8 <= size; i += 8) {
        const uint64_t word = gen();
        std::copy_n(reinterpret_cast<const char*>(&word), 8, data.data() + i);
    }
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("kx-md5-bench-" + std::to_string(::getpid()) + ".bin");
    {
        std::ofstream out(file, std::ios::binary);
        out.write(data.data(), static_cast<std::streamsize>(size));
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", file.c_str());
            return 1;
        }
    }
    const std::string path = file.string();
    volatile unsigned sink = plainRead(path);  // brings the file into the page cache

    const double read = bestSeconds(repetitions, [&] { sink = sink + plainRead(path); });
    std::array<char, 32> hex{};
    const double hashed = bestSeconds(repetitions, [&] { hex = md5sumHex(path.c_str()); });
    const double engine = bestSeconds(repetitions, [&] {
        boost::uuids::detail::md5 md5;
        md5.process_bytes(data.data(), data.size());
        boost::uuids::detail::md5::digest_type words;
        md5.get_digest(words);
        sink = sink + words[0];
    });
    std::filesystem::remove(file);

    const double mb = static_cast<double>(size) / (1024.0 * 1024.0);
    std::printf("md5sumHex over %zu MiB in the page cache, best of %d (digest %.32s)\n", mib, repetitions,
                hex.data());
    std::printf("  plain read (baseline)   %8.1f MiB/s\n", mb / read);
    std::printf("  digest engine in memory %8.1f MiB/s\n", mb / engine);
    std::printf("  md5sumHex               %8.1f MiB/s\n", mb / hashed);
    std::printf("  md5sumHex / plain read          = %.3f\n", read / hashed);
    std::printf("  md5sumHex / engine in memory    = %.3f\n", engine / hashed);
    return 0;
}
