// The dense task of the colmap engine on the lund photographs, judged against their sparse model: the
// photographs are aligned, every 10th sparse point is held back from the dense task, and the dense cloud
// must lie on the surface that the sparse points sample, come near them (the held-back ones too), stay
// inside their box and hold enough points. Prints the wall time of both tasks and of each step their logs
// record, the point counts, the peak memory and each figure with PASS or FAIL. A failed figure is a
// result: the exit status is 1 only when a task fails.
//
//   bench_colmap_dense LUND_FOLDER [NB_IMAGES=29] [MAX_IMAGE_SIZE=1600]
//
// MAX_IMAGE_SIZE is the longest side of the images dense stereo works on (the service's
// --dense-image-size).
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "model/KsmWriter.h"
#include "model/PlyData.h"
#include "service/Engine.h"
#include "service/TaskContext.h"
#include "service/colmap/CloudCheck.h"
#include "vexkit/Md5.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kWithholdEvery = 10;

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A task that did not give its result, with the log that tells why.
struct TaskFailure : std::runtime_error {
    TaskFailure(const std::string& what, const std::filesystem::path& logFile)
        : std::runtime_error(what), log(logFile) {}
    std::filesystem::path log;
};

template <class Run>
auto runTask(const char* name, kxservice::TaskContext& context, const Run& run) {
    try {
        return run();
    } catch (const std::exception& e) {
        throw TaskFailure(std::string(name) + " task failed: " + e.what(), context.logFile());
    }
}

// The steps a task log records as "TIMESTAMP NAME took S s".
void printSteps(const char* task, const std::filesystem::path& logFile) {
    std::ifstream log(logFile);
    for (std::string line; std::getline(log, line);) {
        const size_t at = line.find(" took ");
        const size_t begin = line.find(' ') + 1;
        if (at != std::string::npos && begin <= at) {
            std::printf("  %s step %-50s %10.2f s\n", task, line.substr(begin, at - begin).c_str(),
                        std::atof(line.c_str() + at + 6));
        }
    }
}

std::vector<Eigen::Vector3d> toEigen(const std::vector<kxsfm::Vec3<float>>& points) {
    std::vector<Eigen::Vector3d> out;
    out.reserve(points.size());
    for (const auto& p : points) {
        out.emplace_back(p.x, p.y, p.z);
    }
    return out;
}

double peakMiB(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_maxrss) / 1024;  // KiB on Linux
}

void figure(const char* what, double value, const char* unit, bool pass, const char* limit) {
    std::printf("%-34s %10.3f %-9s (%s) %s\n", what, value, unit, limit, pass ? "PASS" : "FAIL");
}

kxservice::SfmJob lundJob(const std::filesystem::path& lund, int nbImages,
                          std::unordered_map<FileKey, std::filesystem::path>& inputs) {
    kxservice::SfmJob job;
    // 35 mm equivalent focal length 35 on a 1024 x 768 image.
    job.cfg.cameras.push_back({1024, 768, 1035.4f, 1035.4f, 512, 384, 0, 0, 0, 0, 0});
    // Optic model, fixed optics, shutter, key points, SIFT upsampling, GPS, unordered.
    job.cfg.settings = SfmCfg::Settings{"F1D2", false, "Global", 4000, true, false, false};
    for (int i = 1; i <= nbImages; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "%02d.jpg", i);
        if (!std::filesystem::is_regular_file(lund / name)) {
            throw std::runtime_error("no photograph " + (lund / name).string());
        }
        SfmCfg::Image image;
        image.key = FileKey(md5sumHex((lund / name).c_str()));
        image.name = (lund / name).string();
        job.cfg.images.push_back(image);
        inputs[image.key] = lund / name;
    }
    return job;
}

// The dense task on the aligned model with every 10th point held back, and the figures of its cloud.
void densify(kxservice::Engine& engine, const ksm::Model<1u>& sparse, const std::filesystem::path& lund,
             const std::filesystem::path& dir) {
    const kxcolmap::WithheldModel reduced = kxcolmap::withholdPoints(sparse, kWithholdEvery);
    std::filesystem::create_directories(dir / "inputs");
    std::filesystem::create_directories(dir / "mvs");
    const auto ksmPath = dir / "inputs" / "reduced.ksm";
    ksm::writeKsm(ksmPath, KestrixSparseModel(reduced.model));

    kxservice::MvsJob job{FileKey(md5sumHex(ksmPath.c_str())), reduced.model, {}};
    std::unordered_map<FileKey, std::filesystem::path> inputs{{job.ksmKey, ksmPath}};
    for (const ksm::Capture& capture : reduced.model.captures) {
        job.images.emplace_back(encodeHex(capture.imageDigest));
        inputs[job.images.back()] = lund / std::filesystem::path(capture.imagePath).filename();
    }
    std::atomic<bool> cancel{false};
    kxservice::TaskContext context(
        dir / "mvs", inputs, [](float) {}, cancel);
    const auto start = Clock::now();
    const auto results = runTask("MVS", context, [&] { return engine.runMvs(job, context); });
    const double wall = since(start);
    const auto ply = runTask("MVS", context, [&] {
        if (results.empty()) {
            throw std::runtime_error("no result file");
        }
        return kxply::PLYData(results.front().path.string());
    });

    std::printf("MVS: wall %.2f s, %.2f s per photograph (%zu photographs)\n", wall,
                wall / double(std::max<size_t>(1, job.images.size())), job.images.size());
    printSteps("MVS", context.logFile());
    std::vector<Eigen::Vector3d> dense;
    dense.reserve(ply.getVertexPositions().size());
    for (const auto& p : ply.getVertexPositions()) {
        dense.emplace_back(p[0], p[1], p[2]);
    }
    std::string colours = "no colours";
    try {
        const auto& c = ply.getVertexColors();
        const bool vary = std::any_of(c.begin(), c.end(), [&c](const auto& x) { return x != c.front(); });
        colours = vary ? "colours vary" : "one colour only";
    } catch (const std::runtime_error&) {
    }
    std::printf("dense points %zu, sparse points %zu (%zu held back), %s\n", dense.size(),
                sparse.points.size(), reduced.withheld.size(), colours.c_str());
    std::printf("peak memory: bench %.0f MiB, largest subprocess %.0f MiB\n", peakMiB(RUSAGE_SELF),
                peakMiB(RUSAGE_CHILDREN));

    const auto checkStart = Clock::now();
    const auto all = toEigen(sparse.points);
    const auto check = kxcolmap::checkCloud(all, dense, all);
    const auto held = kxcolmap::checkCloud(all, dense, toEigen(reduced.withheld));
    std::printf("cloud checks %.2f s; spacing %.5g\n", since(checkStart), check.spacing);
    figure("median plane distance", check.medianPlaneDistance, "spacings", check.medianPlaneDistance <= 0.5,
           "limit 0.5");
    figure("80th percentile plane distance", check.p80PlaneDistance, "spacings",
           check.p80PlaneDistance <= 1.5, "limit 1.5");
    figure("coverage of all sparse points", 100 * check.coverage, "%", check.coverage >= 0.6, "limit 60 %");
    figure("coverage of held-back points", 100 * held.coverage, "%", held.coverage >= 0.6, "limit 60 %");
    figure("inside the sparse box", 100 * check.insideBox, "%", check.insideBox >= 0.95, "limit 95 %");
    const size_t minPoints = std::max<size_t>(100000, 20 * sparse.points.size());
    std::printf("%-34s %10zu %-9s (at least %zu) %s\n", "dense points", check.nbDense, "", minPoints,
                check.nbDense >= minPoints ? "PASS" : "FAIL");
}

void run(const std::filesystem::path& lund, int nbImages, unsigned maxImageSize,
         const std::filesystem::path& dir) {
    std::unordered_map<FileKey, std::filesystem::path> inputs;
    const kxservice::SfmJob job = lundJob(lund, nbImages, inputs);
    std::filesystem::create_directories(dir / "sfm");
    std::atomic<bool> cancel{false};
    kxservice::TaskContext context(
        dir / "sfm", inputs, [](float) {}, cancel);
    kxservice::EngineOptions options;
    options.taskTimeout = 7200;  // a measurement, not a service: a busy machine must not end it
    options.denseImageSize = maxImageSize;
    const auto engine = kxservice::makeColmapEngine(options);

    const auto start = Clock::now();
    runTask("SfM", context, [&] { return engine->runSfm(job, context); });
    std::printf("%d images, dense images at most %u pixels: SfM wall %.2f s\n", nbImages, maxImageSize,
                since(start));
    printSteps("SfM", context.logFile());
    const auto model = runTask("SfM", context, [&] {
        auto loaded = ksm::loadKsm(dir / "sfm" / "0.ksm");
        if (!std::holds_alternative<ksm::Model<1u>>(loaded)) {
            throw std::runtime_error("0.ksm holds no model");
        }
        return std::get<ksm::Model<1u>>(std::move(loaded));
    });
    densify(*engine, model, lund, dir);
}

}  // namespace

int main(int argc, char** argv) {
    const int nbImages = argc > 2 ? std::atoi(argv[2]) : 29;
    const int maxImageSize = argc > 3 ? std::atoi(argv[3]) : 1600;
    if (argc < 2 || argc > 4 || nbImages < 2 || nbImages > 29 || maxImageSize < 100) {
        std::fprintf(stderr, "usage: %s LUND_FOLDER [NB_IMAGES=29, 2 to 29] [MAX_IMAGE_SIZE=1600]\n",
                     argv[0]);
        return 2;
    }
    const auto dir =
        std::filesystem::temp_directory_path() / ("kx-bench-colmap-dense-" + std::to_string(getpid()));
    int status = 0;
    try {
        // Absolute: the task links the photographs from its own folder.
        run(std::filesystem::absolute(argv[1]), nbImages, unsigned(maxImageSize), dir);
    } catch (const TaskFailure& e) {
        // The log outlives the task directories.
        const auto kept = dir.string() + ".log";
        std::error_code ec;
        std::filesystem::copy_file(e.log, kept, std::filesystem::copy_options::overwrite_existing, ec);
        std::fprintf(stderr, "%s (log %s)\n", e.what(), ec ? "lost" : kept.c_str());
        status = 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench failed: %s\n", e.what());
        status = 1;
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return status;
}
