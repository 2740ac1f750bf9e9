#include "viewer/SceneBuild.h"

#include <cmath>
#include <stdexcept>

#include "model/KsmCheck.h"

namespace viewer {

namespace {
QQuaternion checkedRotation(const kxsfm::Rotation& r, size_t capture) {
    const QQuaternion q(r.w, r.x, r.y, r.z);
    const float length = q.length();
    if (!std::isfinite(length) || !(length > 0)) {
        throw std::invalid_argument("capture " + std::to_string(capture) +
                                    ": rotation is not a valid quaternion");
    }
    return q / length;
}

bool usableFocal(float f) {
    return std::isfinite(f) && f != 0;
}
}  // namespace

SceneModel buildScene(const KestrixSparseModel& file, float depth) {
    const auto* model = std::get_if<ksm::Model<1u>>(&file);
    if (model == nullptr) {
        throw std::runtime_error("not a sparse model of a known version");
    }
    if (const std::string fault = ksm::inconsistency(*model); !fault.empty()) {
        throw std::out_of_range(fault);
    }
    SceneModel scene;
    scene.points.resize(model->points.size());
    for (size_t i = 0; i < model->points.size(); ++i) {
        const auto& p = model->points[i];
        const auto& c = model->colors[i];
        scene.points[i] = ScenePoint{p.x, p.y, p.z, c.r, c.g, c.b, 0};
    }
    scene.captures.reserve(model->captures.size());
    scene.capturePoints.reserve(model->captures.size());
    for (size_t i = 0; i < model->captures.size(); ++i) {
        const ksm::Capture& in = model->captures[i];
        const kxsfm::RealCamera& camera = model->cameras[in.cameraIdx];
        if (!usableFocal(camera.focal.x) || !usableFocal(camera.focal.y)) {
            throw std::invalid_argument("capture " + std::to_string(i) +
                                        ": focal length is zero or not finite");
        }
        const kxsfm::Pose& pose = model->poses[in.poseIdx];
        const auto& size = model->cameraImageSizes[in.cameraIdx];
        SceneCapture out;
        out.rotation = checkedRotation(pose.rotation, i);
        out.centre = QVector3D(pose.centre.x, pose.centre.y, pose.centre.z);
        out.depth = depth;
        out.left = camera.principal.x * depth / camera.focal.x;
        out.top = camera.principal.y * depth / camera.focal.y;
        out.width = float(size.x) * depth / camera.focal.x;
        out.height = float(size.y) * depth / camera.focal.y;
        out.imagePath = QString::fromUtf8(in.imagePath.data(), int(in.imagePath.size()));
        std::vector<uint32_t> observed;
        observed.reserve(in.measurements.size());
        for (const ksm::Measurement& m : in.measurements) {
            observed.push_back(m.pointIdx);
        }
        scene.captures.push_back(std::move(out));
        scene.capturePoints.push_back(std::move(observed));
    }
    return scene;
}

std::array<QVector3D, 7> frustumVertices(const SceneCapture& c, float scale) {
    const float s = c.depth, a = c.left, b = c.top, w = c.width, h = c.height;
    const std::array<QVector3D, 7> local = {QVector3D(0, 0, 0),
                                            QVector3D(0, 0, s),
                                            QVector3D(-a, -b, s),
                                            QVector3D(w - a, -b, s),
                                            QVector3D(-a, h - b, s),
                                            QVector3D(w - a, h - b, s),
                                            QVector3D(w - a, (h - 2 * b) / 2, s)};
    const QQuaternion toWorld = c.rotation.conjugated();
    std::array<QVector3D, 7> world;
    for (size_t i = 0; i < local.size(); ++i) {
        world[i] = toWorld.rotatedVector(local[i] * scale) + c.centre;
    }
    return world;
}

}  // namespace viewer
