// Sparse model reading against a plain read of the same file into a fresh buffer: 1 million points and
// 2,000 captures of 10,000 measurements each.
#include <cstdio>
#include <fstream>

#include "bench/model/BenchSupport.h"
#include "model/KsmModel.h"
#include "model/KsmWriter.h"
#include "tests/model/KsmSamples.h"

int main(int argc, char** argv) {
    const size_t scale = argc > 1 ? std::stoul(argv[1]) : 1;
    kxbench::fixAllocatorThresholds();
    const kxbench::ScratchDir dir;
    const auto path = dir / "model.ksm";
    {
        kxtest::KsmShape shape{2000 / scale, 8, 1'000'000 / scale, 2000 / scale, 10'000 / scale};
        const ksm::Model<1u> model = kxtest::makeKsmModel(shape, 1);
        std::ofstream out(path, std::ios::binary);
        ksm::writeKsm(out, model);
    }
    const double fileMiB = kxbench::mib(std::filesystem::file_size(path));
    unsigned sink = 0;
    size_t nbCaptures = 0;
    auto read = [&] {
        const KestrixSparseModel m = ksm::loadKsm(path);
        const auto& model = std::get<ksm::Model<1u>>(m);
        nbCaptures = model.captures.size();
        sink += model.captures.back().measurements.back().pointIdx;
    };
    const double plain = kxbench::bestSeconds(3, [&] { sink += kxbench::plainRead(path); });
    const double reader = kxbench::bestSeconds(3, read);
    const uint64_t plainPeak = kxbench::peakExtraBytes([&] { sink += kxbench::plainRead(path); });
    const uint64_t readerPeak = kxbench::peakExtraBytes(read);
    std::printf("ksm: %zu captures, file %.1f MiB\n", nbCaptures, fileMiB);
    std::printf(
        "  plain read %.3f s (%.0f MiB/s), reader %.3f s (%.0f MiB/s): speed ratio %.2f (target >= 0.5)\n",
        plain, fileMiB / plain, reader, fileMiB / reader, plain / reader);
    std::printf("  peak memory: plain read %.1f MiB, reader %.1f MiB\n", kxbench::mib(plainPeak),
                kxbench::mib(readerPeak));
    std::printf("  (%u)\n", sink & 1);
    return 0;
}
