#include "service/colmap/ColmapMvs.h"

#include <chrono>
#include <cstdio>
#include <stdexcept>

#include <opencv2/core/utility.hpp>

#include "model/PlyData.h"
#include "service/LaunchCheck.h"
#include "service/Limits.h"
#include "service/colmap/CloudCheck.h"
#include "service/colmap/DenseScene.h"
#include "service/colmap/InputImages.h"
#include "service/colmap/Runner.h"
#include "service/colmap/SparseExport.h"
#include "service/colmap/TextModel.h"
#include "vexkit/FileType.h"

namespace kxcolmap {
namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The task's images under the mapper's names, and the model's captures as their sources.
std::vector<ImageSource> placeImages(const kxservice::MvsJob& job, kxservice::TaskContext& context,
                                     const DenseLayout& layout) {
    std::filesystem::create_directories(layout.images());
    std::vector<ImageSource> sources;
    for (size_t i = 0; i < job.model.captures.size(); ++i) {
        const ksm::Capture& capture = job.model.captures[i];
        ImageSource source{mapperName(i), capture.imagePath, capture.imageDigest};
        try {
            const FileType type = fileTypeOf(getFileExtension(std::filesystem::u8path(capture.imagePath)));
            placeImage(context.inputPath(job.images.at(i)), type, layout.images() / source.mapperName);
        } catch (const std::exception& e) {
            throw std::runtime_error("image " + capture.imagePath + " cannot be read: " + e.what());
        }
        sources.push_back(std::move(source));
    }
    return sources;
}

// The fused cloud's points; none when the file is missing or unreadable (fusion reports success even
// when it wrote nothing).
std::vector<Eigen::Vector3d> cloudPoints(const std::filesystem::path& path) {
    std::vector<Eigen::Vector3d> points;
    try {
        const kxply::PLYData ply(path.string());
        for (const auto& p : ply.getVertexPositions()) {
            points.emplace_back(p[0], p[1], p[2]);
        }
    } catch (const std::runtime_error&) {
        points.clear();
    }
    return points;
}

// How the cloud lies on the surface the sparse points sample, for the task log.
std::string agreement(const ksm::Model<1u>& model, const std::vector<Eigen::Vector3d>& dense) {
    std::vector<Eigen::Vector3d> sparse;
    for (const auto& p : model.points) {
        sparse.emplace_back(p.x, p.y, p.z);
    }
    const CloudCheck check = checkCloud(sparse, dense, sparse);
    char text[200];
    std::snprintf(text, sizeof text,
                  "distance to the sparse surface %.2f spacings (median), %.2f (80th percentile); "
                  "%.1f %% of the sparse points have a dense point within 1.5 spacings",
                  check.medianPlaneDistance, check.p80PlaneDistance, 100 * check.coverage);
    return text;
}

}  // namespace

unsigned mvsTaskSeconds(const RunOptions& options, size_t nbImages) {
    return options.taskTimeout > 0 ? options.taskTimeout
                                   : unsigned(kxservice::limits::taskSeconds(
                                         kxservice::limits::kTaskBaseSeconds,
                                         kxservice::limits::kMvsSecondsPerPhotograph, nbImages));
}

std::vector<kxservice::ResultFile> runMvs(const kxservice::MvsJob& job, kxservice::TaskContext& context,
                                          const RunOptions& options) {
    const auto start = Clock::now();
    const size_t nbImages = job.model.captures.size();
    if (nbImages < 2) {
        throw std::runtime_error("dense stereo needs at least two registered images; the sparse model has " +
                                 std::to_string(nbImages));
    }
    if (job.images.size() != nbImages) {
        throw std::runtime_error("the task names " + std::to_string(job.images.size()) + " images for " +
                                 std::to_string(nbImages) + " captures");
    }
    const unsigned limit = mvsTaskSeconds(options, kxservice::countDistinct(job.images));
    Runner runner(context, options, limit);
    const DenseLayout layout{context.dir()};
    context.log("colmap engine, dense: " + std::to_string(nbImages) + " images, " +
                std::to_string(job.model.points.size()) + " sparse points, at most " +
                std::to_string(options.denseImageSize) + " pixels, " +
                (options.cudaStereo ? "colmap's stereo" : "CPU stereo") + ", task limit " +
                std::to_string(limit) + " s");

    const std::vector<ImageSource> sources = placeImages(job, context, layout);
    std::vector<std::string> names;
    for (const ImageSource& s : sources) {
        names.push_back(s.mapperName);
    }
    std::filesystem::create_directories(layout.sparse());
    writeTextModel(job.model, names, layout.sparse());
    runner.run(undistorterArgs(layout, options), 0, 0.1, 0);

    if (options.cudaStereo) {
        runner.run(patchMatchArgs(layout), 0.1, 0.85, 0);
    } else {
        // The undistorted cameras are pinholes whose intrinsics differ from the model's.
        std::filesystem::create_directories(layout.undistorted());
        runner.run(converterArgs(layout.workspace() / "sparse", layout.undistorted()), 0.1, 0.1, 0);
        const dense::Scene scene = dense::sceneOf(readTextModel(layout.undistorted(), sources), names);
        const auto mapsStart = Clock::now();
        cv::setNumThreads(int(options.nbThreads));
        const size_t nbDepths =
            dense::writeDepthMaps(scene, layout.workspace(), dense::DepthOptions{}, [&](size_t i) {
                runner.checkpoint("the depth maps");
                context.progress(float(0.1 + 0.75 * double(i) / double(nbImages)));
            });
        context.log("depth maps of " + std::to_string(nbImages) + " images (" + std::to_string(nbDepths) +
                    " depths) took " + seconds(since(mapsStart)));
        if (nbDepths == 0) {
            throw std::runtime_error(
                "no depth could be measured: the images share too little texture or "
                "parallax");
        }
    }
    // Our depths already agree across three views (the reference and two sources), so each one makes a
    // point; colmap's own maps are confirmed by the fusion's agreement of three views.
    const int minPixels = options.cudaStereo ? int(std::min<size_t>(3, nbImages)) : 1;
    runner.run(fusionArgs(layout, minPixels, options), 0.85, 1, nbImages);
    const std::vector<Eigen::Vector3d> cloud = cloudPoints(layout.cloud());
    const size_t nbPoints = cloud.size();
    if (nbPoints == 0) {
        throw std::runtime_error(minPixels > 1 ? "fusion kept no point: no depth was confirmed by " +
                                                     std::to_string(minPixels) + " images (see the task log)"
                                               : std::string("fusion kept no point (see the task log)"));
    }
    context.log("dense cloud: " + std::to_string(nbPoints) + " points; " + agreement(job.model, cloud));
    context.progress(1);
    context.log("engine wall time " + seconds(since(start)) + ", subprocesses " +
                seconds(runner.subprocessSeconds()));
    return {{layout.cloud(), FileType::kPly, 0}};
}

}  // namespace kxcolmap
