// Loading a drone survey's worth of 20-megapixel JPEGs: images per second with the reduced-DCT thumbnails,
// beside the same work with full-decode thumbnails and on a single worker thread, all in one run.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <QApplication>
#include <QImage>

#include "bench/project/SyntheticPhoto.h"
#include "project/LoadImages.h"
#include "project/Thumbnail.h"
#include "vexkit/ThreadPool.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// CPU time of the whole process, Qt's own scaling and conversion threads included: a fair measure of
// the work done when other processes share the cores.
double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double psnr(const QImage& a, const QImage& b) {
    const QImage x = a.convertToFormat(QImage::Format_RGB888);
    const QImage y = b.convertToFormat(QImage::Format_RGB888);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        const uchar* p = x.constScanLine(row);
        const uchar* q = y.constScanLine(row);
        for (int i = 0; i < 3 * x.width(); ++i) {
            const double d = double(p[i]) - double(q[i]);
            sum += d * d;
        }
    }
    const double mse = sum / (3.0 * x.width() * x.height());
    return mse == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 / mse);
}

struct Rate {
    double imagesPerSecond;
    double cpuMsPerImage;
};

// One loadImages call over all files.
Rate measure(ThreadPool& pool, const std::vector<std::string>& files, const ImageLoader& loader) {
    const auto start = Clock::now();
    const double cpu = processCpuSeconds();
    const auto images = loadImages(pool, files, {}, loader);
    const double n = static_cast<double>(images.size());
    return {n / seconds(start), 1e3 * (processCpuSeconds() - cpu) / n};
}

// Generated files: `nbFiles` copies, each with its own comment, of `nbContents` distinct photographs.
struct Survey {
    std::filesystem::path dir;
    std::vector<std::string> files;
    std::vector<std::string> distinct;
    double meanBytes = 0;

    Survey(kxbench::Detail detail, int nbFiles, int nbContents, uint32_t width, uint32_t height) {
        dir = std::filesystem::temp_directory_path() /
              ("kx-bench-project-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(dir);
        files.resize(static_cast<size_t>(nbFiles));
        for (int c = 0; c < nbContents; ++c) {
            const std::string jpeg =
                kxbench::makeSyntheticJpeg(width, height, static_cast<uint32_t>(c + 1), detail);
            meanBytes += static_cast<double>(jpeg.size()) / nbContents;
            for (int i = c; i < nbFiles; i += nbContents) {
                files[static_cast<size_t>(i)] = (dir / ("photo" + std::to_string(i) + ".jpg")).string();
                kxbench::writeTaggedCopy(files[static_cast<size_t>(i)], jpeg, "copy " + std::to_string(i));
            }
            distinct.push_back(files[static_cast<size_t>(c)]);
        }
    }
    ~Survey() { std::filesystem::remove_all(dir); }
};

void runSurvey(const char* title, kxbench::Detail detail, int nbFiles) {
    const uint32_t width = 5472, height = 3648;  // 20 megapixels, the common drone camera
    const Survey survey(detail, nbFiles, std::min(nbFiles, 4), width, height);
    std::printf("\n%s: %d JPEGs of %u x %u, %.2f MB each\n", title, nbFiles, width, height,
                survey.meanBytes / 1e6);

    const ImageLoader fast = [](const char* file) { return loadImage(file); };
    const ImageLoader full = [](const char* file) { return loadImage(file, &makeFullDecodeQIcon); };
    ThreadPool onePool(1);
    loadImages(threadPool, survey.distinct, {}, fast);  // page cache and per-thread readers warm

    const Rate fastRate = measure(threadPool, survey.files, fast);
    const Rate fullRate = measure(threadPool, survey.files, full);
    const Rate oneRate = measure(onePool, survey.files, fast);
    std::printf("  loadImages, reduced-DCT thumbnails, %u workers: %6.2f images/s, %6.1f ms CPU per image\n",
                std::thread::hardware_concurrency(), fastRate.imagesPerSecond, fastRate.cpuMsPerImage);
    std::printf(
        "  loadImages, full-decode thumbnails, %u workers: %6.2f images/s, %6.1f ms CPU per image"
        "  (reduced-DCT: %.2fx the images/s, %.2fx less CPU)\n",
        std::thread::hardware_concurrency(), fullRate.imagesPerSecond, fullRate.cpuMsPerImage,
        fastRate.imagesPerSecond / fullRate.imagesPerSecond, fullRate.cpuMsPerImage / fastRate.cpuMsPerImage);
    std::printf("  loadImages, reduced-DCT thumbnails, 1 worker:  %6.2f images/s  (the pool gives %.2fx)\n",
                oneRate.imagesPerSecond, fastRate.imagesPerSecond / oneRate.imagesPerSecond);

    // The thumbnail alone, each distinct file a few times, in process CPU time.
    const int nbRounds = 3;
    double fastCpu = 0, fullCpu = 0, minPsnr = INFINITY;
    for (int round = 0; round < nbRounds; ++round) {
        for (const std::string& file : survey.distinct) {
            double start = processCpuSeconds();
            const QImage a = makeThumbnail(file.c_str(), kThumbnailSize);
            fastCpu += processCpuSeconds() - start;
            start = processCpuSeconds();
            const QImage b = makeFullDecodeThumbnail(file.c_str(), kThumbnailSize);
            fullCpu += processCpuSeconds() - start;
            minPsnr = std::min(minPsnr, a.size() == b.size() ? psnr(a, b) : 0.0);
        }
    }
    const double nbThumbs = static_cast<double>(nbRounds) * static_cast<double>(survey.distinct.size());
    std::printf(
        "  thumbnail alone (CPU): reduced-DCT %.1f ms, full decode %.1f ms  (%.2fx); "
        "PSNR against the full decode at least %.1f dB\n",
        1e3 * fastCpu / nbThumbs, 1e3 * fullCpu / nbThumbs, fullCpu / fastCpu, minPsnr);
}

}  // namespace

// Usage: bench_project_loading [number of files, default 64]
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const int nbFiles = argc > 1 ? std::max(1, std::atoi(argv[1])) : 64;
    runSurvey("Aerial texture with sensor noise", kxbench::Detail::kDetailed, nbFiles);
    runSurvey("Smooth gradients", kxbench::Detail::kSmooth, nbFiles);
    return 0;
}
