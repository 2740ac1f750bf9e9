// PLY reading against a plain read of the same file into a fresh buffer: binary little-endian clouds of
// 10 million vertices (float x, y, z with uchar r, g, b, then with float colours) and an ascii cloud of 1
// million.
#include <cstdio>
#include <fstream>

#include "bench/model/BenchSupport.h"
#include "model/PlyData.h"
#include "tests/model/PlySamples.h"

namespace {

// `target`: the least speed ratio expected, or 0 where none is set.
void run(const char* label, const kxbench::ScratchDir& dir, size_t nbVertices,
         const kxtest::CloudLayout& layout, double target) {
    const auto path = dir / (std::string(label) + ".ply");
    {
        const kxtest::Cloud cloud = kxtest::makeCloud(nbVertices, 1);
        std::ofstream out(path, std::ios::binary);
        kxtest::writeCloud(out, cloud, layout);
    }
    const double fileMiB = kxbench::mib(std::filesystem::file_size(path));
    unsigned sink = 0;
    size_t nbRead = 0;
    auto read = [&] {
        const kxply::PLYData ply(path.string(), false);
        nbRead = ply.getVertexPositions().size();
        sink += ply.getVertexColors().empty() ? 0 : ply.getVertexColors().back()[0];
    };
    const double plain = kxbench::bestSeconds(3, [&] { sink += kxbench::plainRead(path); });
    const double reader = kxbench::bestSeconds(3, read);
    const uint64_t plainPeak = kxbench::peakExtraBytes([&] { sink += kxbench::plainRead(path); });
    const uint64_t readerPeak = kxbench::peakExtraBytes(read);
    const double results = kxbench::mib(nbVertices * (3 * sizeof(double) + 3));
    std::printf("%s: %zu vertices, file %.1f MiB\n", label, nbRead, fileMiB);
    std::printf("  plain read %.3f s (%.0f MiB/s), reader %.3f s (%.0f MiB/s): speed ratio %.2f", plain,
                fileMiB / plain, reader, fileMiB / reader, plain / reader);
    std::printf(target > 0 ? " (target >= %.2f)\n" : "\n", target);
    std::printf("  peak memory: plain read %.1f MiB, reader %.1f MiB; file + result arrays %.1f MiB\n",
                kxbench::mib(plainPeak), kxbench::mib(readerPeak), fileMiB + results);
    std::printf("  (%u)\n", sink & 1);
    std::filesystem::remove(path);
}

}  // namespace

int main(int argc, char** argv) {
    // An optional scale divides the vertex counts, for a quick run.
    const size_t scale = argc > 1 ? std::stoul(argv[1]) : 1;
    kxbench::fixAllocatorThresholds();
    const kxbench::ScratchDir dir;
    run("binary_little_endian", dir, 10'000'000 / scale, {kxtest::PlyOut::kBinaryLittleEndian}, 0.5);
    run("binary_little_endian_float_colours", dir, 10'000'000 / scale,
        {kxtest::PlyOut::kBinaryLittleEndian, "float", "float"}, 0);
    run("ascii", dir, 1'000'000 / scale, {kxtest::PlyOut::kAscii}, 0);
    return 0;
}
