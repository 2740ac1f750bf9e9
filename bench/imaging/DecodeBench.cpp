// Decoding a 20-megapixel JPEG: the reader (whole file, header measured twice, accurate DCT) and the scaled
// thumbnail decode, each beside TurboJPEG on the same bytes in memory without the reader.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include <turbojpeg.h>

#include "bench/imaging/BenchUtil.h"
#include "vexkit/ImageReader.h"
#include "vexkit/JpegScaledDecode.h"

namespace {

// Baseline: TurboJPEG alone, bytes already in memory, output buffer allocated per decode as the reader does.
double baselineSeconds(std::vector<unsigned char>& jpeg, int width, int height, int rounds) {
    std::unique_ptr<void, int (*)(void*)> tj(tjInitDecompress(), &tjDestroy);
    return kxbench::bestSeconds(rounds, [&] {
        std::vector<unsigned char> rgb(size_t(width) * height * 3);
        if (tjDecompress2(tj.get(), jpeg.data(), jpeg.size(), rgb.data(), width, 0, height, TJPF_RGB,
                          TJFLAG_ACCURATEDCT) != 0) {
            std::printf("baseline decode failed: %s\n", tjGetErrorStr2(tj.get()));
        }
    });
}

}  // namespace

int main() {
    constexpr uint32_t kWidth = 5472;
    constexpr uint32_t kHeight = 3648;  // 20 MP, the size of a common drone camera
    constexpr int kRounds = 5;
    const std::string bytes = kxbench::makeJpeg(kWidth, kHeight);
    const std::filesystem::path path = std::filesystem::temp_directory_path() / "kx-bench-20mp.jpg";
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    std::vector<unsigned char> jpeg(bytes.begin(), bytes.end());
    const double mp = kWidth * double(kHeight) / 1e6;
    std::printf("20 MP JPEG decode (%ux%u, %.1f MB), best of %d\n", kWidth, kHeight, bytes.size() / 1e6,
                kRounds);

    const double base = baselineSeconds(jpeg, kWidth, kHeight, kRounds);
    auto reader = vexkit::createImageReader();
    const double full = kxbench::bestSeconds(kRounds, [&] {
        reader->setFile(path.c_str());  // a fresh file each time: the header is measured again
        (void)reader->decodeTo8UC3();
    });
    std::printf("  TurboJPEG alone       %8.1f MP/s\n", mp / base);
    std::printf("  reader decodeTo8UC3   %8.1f MP/s  (%.2fx the baseline's time)\n", mp / full, full / base);

    for (const uint32_t minSide : {192u, 1024u, 2736u}) {
        vexkit::Image8UC3 img;
        const double scaled = kxbench::bestSeconds(kRounds, [&] {
            img = vexkit::decodeJpegAtLeast(path.c_str(), minSide, minSide * kHeight / kWidth);
        });
        std::printf("  scaled to %4ux%-4u    %8.1f source MP/s  (%.2fx the baseline's time)\n", img.width(),
                    img.height(), mp / scaled, scaled / base);
    }
    std::filesystem::remove(path);
    return 0;
}
