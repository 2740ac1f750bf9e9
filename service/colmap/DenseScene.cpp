#include "service/colmap/DenseScene.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <stdexcept>

#include <Eigen/Geometry>

#include "service/colmap/SparseExport.h"

namespace kxcolmap::dense {
namespace {

double degrees(double radians) {
    return radians * 180 / M_PI;
}

// Weight of a shared point by its triangulation angle: 1 inside the preferred band, falling off
// quadratically outside it.
double angleWeight(double angle, const DepthOptions& options) {
    if (angle < options.minAngleDeg) {
        const double r = angle / options.minAngleDeg;
        return r * r;
    }
    if (angle > options.maxAngleDeg) {
        const double r = options.maxAngleDeg / angle;
        return r * r;
    }
    return 1;
}

bool insideImage(const Eigen::Vector3d& x, const View& view) {
    if (std::abs(x.z()) < 1e-12) {
        return false;  // at infinity
    }
    const double u = x.x() / x.z(), v = x.y() / x.z();
    return u >= 0 && v >= 0 && u < view.width && v < view.height;
}

}  // namespace

Scene sceneOf(const ksm::Model<1u>& model, const std::vector<std::string>& names) {
    if (names.size() != model.captures.size()) {
        throw std::runtime_error("one name per capture is needed");
    }
    Scene scene;
    for (const auto& p : model.points) {
        scene.points.emplace_back(p.x, p.y, p.z);
    }
    for (size_t i = 0; i < model.captures.size(); ++i) {
        const ksm::Capture& capture = model.captures[i];
        checkCapture(model, i);
        const kxsfm::RealCamera& camera = model.cameras[capture.cameraIdx];
        for (float e : camera.extra) {
            if (e != 0) {
                throw std::runtime_error("the undistorted camera of " + names[i] + " has distortion");
            }
        }
        View view;
        view.name = names[i];
        view.width = int(model.cameraImageSizes[capture.cameraIdx].x);
        view.height = int(model.cameraImageSizes[capture.cameraIdx].y);
        // The model measures from the top-left corner; OpenCV from the top-left pixel's centre.
        view.K << camera.focal.x, 0, camera.principal.x - 0.5, 0, camera.focal.y, camera.principal.y - 0.5, 0,
            0, 1;
        const kxsfm::Pose& pose = model.poses[capture.poseIdx];
        const Eigen::Quaterniond q(pose.rotation.w, pose.rotation.x, pose.rotation.y, pose.rotation.z);
        view.R = q.normalized().toRotationMatrix();
        view.t = -view.R * Eigen::Vector3d(pose.centre.x, pose.centre.y, pose.centre.z);
        for (const ksm::Measurement& m : capture.measurements) {
            if (m.pointIdx >= model.points.size()) {
                throw std::runtime_error(names[i] + " observes a point the model lacks");
            }
            view.points.push_back(m.pointIdx);
        }
        std::sort(view.points.begin(), view.points.end());
        view.points.erase(std::unique(view.points.begin(), view.points.end()), view.points.end());
        scene.views.push_back(std::move(view));
    }
    return scene;
}

std::vector<size_t> pickSources(const Scene& scene, size_t ref, const DepthOptions& options) {
    const View& r = scene.views.at(ref);
    const Eigen::Vector3d cr = r.centre();
    std::vector<std::pair<double, size_t>> scored;
    std::vector<uint32_t> shared;
    for (size_t j = 0; j < scene.views.size(); ++j) {
        const View& s = scene.views[j];
        if (j == ref || (s.centre() - cr).norm() < 1e-9) {
            continue;
        }
        shared.clear();
        std::set_intersection(r.points.begin(), r.points.end(), s.points.begin(), s.points.end(),
                              std::back_inserter(shared));
        const Eigen::Vector3d cs = s.centre();
        double score = 0;
        for (uint32_t k : shared) {
            const Eigen::Vector3d& x = scene.points[k];
            const double cosine = (x - cr).normalized().dot((x - cs).normalized());
            score += angleWeight(degrees(std::acos(std::clamp(cosine, -1.0, 1.0))), options);
        }
        if (score >= 1) {
            scored.emplace_back(score, j);
        }
    }
    std::sort(scored.begin(), scored.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<size_t> sources;
    for (size_t k = 0; k < scored.size() && k < options.maxSources; ++k) {
        sources.push_back(scored[k].second);
    }
    return sources;
}

std::optional<std::pair<double, double>> depthRange(const Scene& scene, size_t ref) {
    const View& view = scene.views.at(ref);
    std::vector<double> depths;
    for (uint32_t k : view.points) {
        const double z = view.toCamera(scene.points[k]).z();
        if (z > 0 && std::isfinite(z)) {
            depths.push_back(z);
        }
    }
    if (depths.size() < 10) {
        depths.clear();
        for (const Eigen::Vector3d& x : scene.points) {
            const Eigen::Vector3d c = view.toCamera(x);
            if (c.z() > 0 && std::isfinite(c.z()) && insideImage(view.K * c, view)) {
                depths.push_back(c.z());
            }
        }
    }
    if (depths.empty()) {
        return std::nullopt;
    }
    std::sort(depths.begin(), depths.end());
    const double nearest = depths[depths.size() / 100];
    const double farthest = depths[depths.size() - 1 - depths.size() / 100];
    return std::make_pair(nearest * 0.7, farthest * 1.4);
}

bool epipolesOutside(const View& a, const View& b) {
    return !insideImage(a.K * a.toCamera(b.centre()), a) && !insideImage(b.K * b.toCamera(a.centre()), b);
}

void writeMap(const std::filesystem::path& path, const cv::Mat& map) {
    CV_Assert(map.depth() == CV_32F && map.isContinuous());
    std::ofstream out(path, std::ios::binary);
    out << map.cols << '&' << map.rows << '&' << map.channels() << '&';
    std::vector<cv::Mat> planes;
    cv::split(map, planes);
    for (const cv::Mat& plane : planes) {
        const cv::Mat p = plane.isContinuous() ? plane : plane.clone();
        out.write(reinterpret_cast<const char*>(p.ptr<float>()), std::streamsize(p.total() * sizeof(float)));
    }
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

}  // namespace kxcolmap::dense
