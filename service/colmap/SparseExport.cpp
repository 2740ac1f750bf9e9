#include "service/colmap/SparseExport.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include <Eigen/Geometry>

#include "service/colmap/OpticModel.h"

namespace kxcolmap {
namespace {

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

File create(const std::filesystem::path& path) {
    File f(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!f) {
        throw std::runtime_error("cannot write " + path.string());
    }
    return f;
}

void close(File& f, const std::filesystem::path& path) {
    const bool failed = std::ferror(f.get()) != 0;
    if (std::fclose(f.release()) != 0 || failed) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

SfmCfg::Camera configured(const kxsfm::RealCamera& c) {
    return {0,          0,          c.focal.x,  c.focal.y,  c.principal.x, c.principal.y,
            c.extra[0], c.extra[1], c.extra[2], c.extra[3], c.extra[4]};
}

}  // namespace

void checkCapture(const ksm::Model<1u>& model, size_t i) {
    const ksm::Capture& capture = model.captures.at(i);
    if (capture.cameraIdx >= model.cameras.size() || capture.cameraIdx >= model.cameraImageSizes.size() ||
        capture.poseIdx >= model.poses.size()) {
        throw std::runtime_error("capture " + std::to_string(i) + " names a camera or pose the model lacks");
    }
}

std::string cameraModelOf(const kxsfm::RealCamera& c) {
    const SfmCfg::Camera camera = configured(c);
    if (!hasDistortion(camera)) {
        return "PINHOLE";
    }
    return camera.k3 == 0 ? "OPENCV" : "FULL_OPENCV";
}

void writeTextModel(const ksm::Model<1u>& model, const std::vector<std::string>& names,
                    const std::filesystem::path& dir) {
    if (names.size() != model.captures.size()) {
        throw std::runtime_error("the model has " + std::to_string(model.captures.size()) + " captures but " +
                                 std::to_string(names.size()) + " names were given");
    }
    const auto camerasPath = dir / "cameras.txt";
    File cameras = create(camerasPath);
    for (size_t i = 0; i < model.cameras.size() && i < model.cameraImageSizes.size(); ++i) {
        const std::string name = cameraModelOf(model.cameras[i]);
        // The command line's comma-separated list, as the text file's fields.
        std::string params = cameraParams(configured(model.cameras[i]), name);
        std::replace(params.begin(), params.end(), ',', ' ');
        std::fprintf(cameras.get(), "%zu %s %u %u %s\n", i + 1, name.c_str(), model.cameraImageSizes[i].x,
                     model.cameraImageSizes[i].y, params.c_str());
    }
    close(cameras, camerasPath);

    // Tracks gathered from the captures: image id and the index of the measurement in its image.
    std::vector<std::vector<std::pair<size_t, size_t>>> tracks(model.points.size());
    const auto imagesPath = dir / "images.txt";
    File images = create(imagesPath);
    for (size_t i = 0; i < model.captures.size(); ++i) {
        const ksm::Capture& capture = model.captures[i];
        checkCapture(model, i);
        const kxsfm::Pose& pose = model.poses[capture.poseIdx];
        const kxsfm::Rotation& r = pose.rotation;
        Eigen::Quaterniond q(r.w, r.x, r.y, r.z);
        if (!(q.norm() > 0)) {
            throw std::runtime_error("capture " + std::to_string(i) + " has no rotation");
        }
        q.normalize();
        const Eigen::Vector3d t = -(q * Eigen::Vector3d(pose.centre.x, pose.centre.y, pose.centre.z));
        std::fprintf(images.get(), "%zu %.17g %.17g %.17g %.17g %.17g %.17g %.17g %u %s\n", i + 1, q.w(),
                     q.x(), q.y(), q.z(), t.x(), t.y(), t.z(), capture.cameraIdx + 1, names[i].c_str());
        for (size_t m = 0; m < capture.measurements.size(); ++m) {
            const ksm::Measurement& measurement = capture.measurements[m];
            if (measurement.pointIdx >= model.points.size()) {
                throw std::runtime_error("capture " + std::to_string(i) + " observes point " +
                                         std::to_string(measurement.pointIdx) + " that the model lacks");
            }
            tracks[measurement.pointIdx].emplace_back(i + 1, m);
            std::fprintf(images.get(), "%s%.9g %.9g %u", m == 0 ? "" : " ",
                         toMapperPixel(measurement.extra.x), toMapperPixel(measurement.extra.y),
                         measurement.pointIdx + 1);
        }
        std::fputc('\n', images.get());
    }
    close(images, imagesPath);

    if (model.colors.size() < model.points.size()) {
        throw std::runtime_error("the model has fewer colours than points");
    }
    const auto pointsPath = dir / "points3D.txt";
    File points = create(pointsPath);
    for (size_t k = 0; k < model.points.size(); ++k) {
        const auto& p = model.points[k];
        const auto& colour = model.colors[k];
        std::fprintf(points.get(), "%zu %.9g %.9g %.9g %u %u %u 0", k + 1, p.x, p.y, p.z, colour.r, colour.g,
                     colour.b);
        for (const auto& [image, index] : tracks[k]) {
            std::fprintf(points.get(), " %zu %zu", image, index);
        }
        std::fputc('\n', points.get());
    }
    close(points, pointsPath);
}

}  // namespace kxcolmap
