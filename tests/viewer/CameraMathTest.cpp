// The viewer's maths without a GL context: orbit, pan, zoom and the fit to a cloud (picking, a notch's
// factor and the captures' scale are checked by the render tests), the frame budget, and sparse models
// turned into drawable scenes with every inconsistency refused.
#include <cmath>
#include <functional>
#include <limits>

#include <QMatrix4x4>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "viewer/CameraMath.h"
#include "viewer/DrawBudget.h"
#include "viewer/SceneBuild.h"

namespace {
using viewer::ViewPose;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
using Model = ksm::Model<1u>;

TEST(CameraMath, OrbitStepsTiltTwistOrStayFinite) {
    // The drag, and whether it is no rotation, else |axis z|: 0 in the view plane (tilt), 1 about the
    // viewing axis (twist).
    const std::tuple<const char*, QPointF, QPointF, bool, int> rows[] = {
        {"no move", {0.2, 0.1}, {0.2, 0.1}, true, 0},
        {"vertical drag through the centre", {0.0, -0.05}, {0.0, 0.05}, false, 0},
        {"tangential drag at the edge", {0.6, -0.01}, {0.6, 0.01}, false, 1},
        {"radial drag (|c| = 1)", {0.3, 0.3}, {0.6, 0.6}, false, 0},
        {"not a position", {kNaN, 0.0}, {0.1, 0.1}, true, 0},
    };
    for (const auto& [name, from, to, identity, axisZ] : rows) {
        SCOPED_TRACE(name);
        const QQuaternion q = viewer::orbitStep(from, to);
        ASSERT_TRUE(std::isfinite(q.lengthSquared()));  // NaN or infinity in any component
        if (identity) {
            EXPECT_EQ(q, QQuaternion());
            continue;
        }
        QVector3D axis;
        float angle = 0;
        q.getAxisAndAngle(&axis, &angle);
        EXPECT_GT(angle, 0.1f);
        EXPECT_NEAR(std::abs(axis.z()), axisZ, 1e-4);
    }
}

TEST(CameraMath, OrbitKeepsTheDistanceAndAPanMovesTheTargetWithTheCursor) {
    ViewPose pose;
    pose.target = QVector3D(1, 2, 3);
    pose.eye = pose.target + pose.rotation.conjugated().rotatedVector(QVector3D(0, 0, 5));
    viewer::orbit(pose, {0.3, 0.1}, {0.1, -0.2});
    EXPECT_NEAR((pose.eye - pose.target).length(), 5.0f, 1e-4);
    EXPECT_EQ(pose.target, QVector3D(1, 2, 3));
    // After the pan, the old target sits where the cursor went (aspect 1: one unit = the NDC's 2).
    const QVector3D oldTarget = pose.target;
    viewer::pan(pose, {0.0, 0.0}, {0.1, -0.05}, 45);
    const QVector3D ndc = viewer::projectionView(pose, 45, 1).map(oldTarget);
    EXPECT_NEAR(ndc.x(), 0.2f, 1e-4);
    EXPECT_NEAR(ndc.y(), 0.1f, 1e-4);
}

TEST(CameraMath, WheelExtremesAreClamped) {
    ViewPose pose;
    pose.target = QVector3D(0, 0, 1);
    EXPECT_EQ(viewer::wheelFactor(1e12), std::exp(2.0));
    EXPECT_EQ(viewer::wheelFactor(kNaN), 1.0);
    for (int i = 0; i < 100; ++i) {
        viewer::zoom(pose, viewer::wheelFactor(-1e9));
    }
    EXPECT_GT((pose.eye - pose.target).length(), 0.0f);
    EXPECT_TRUE(std::isfinite(viewer::projectionView(pose, 45, 1)(0, 0)));
}

TEST(CameraMath, FitUsesMeanAndMainSpreadAndFallsBackToTheDefaultDistance) {
    // Six points on the axes about (10, 20, 30), plus one that is not a position.
    std::vector<float> xyz = {13, 20, 30, 7,     20, 30, 10,    21,          30, 10, 19,
                              30, 10, 20, 30.5f, 10, 20, 29.5f, float(kNaN), 0,  0};
    const auto fit = viewer::fitCamera(xyz.data(), 7, 3, 45);
    EXPECT_NEAR((fit.target - QVector3D(10, 20, 30)).length(), 0.0f, 1e-5);
    // Largest variance along x: 2 * 9 / (6 - 1).
    EXPECT_NEAR(fit.distance, 2 * std::sqrt(3.6) / std::tan(M_PI / 8), 1e-4);

    const std::vector<float> repeated = {4, 5, 6, 4, 5, 6, 4, 5, 6};
    const auto still = viewer::fitCamera(repeated.data(), 3, 3, 45);
    EXPECT_EQ(still.target, QVector3D(4, 5, 6));
    EXPECT_NEAR(still.distance, viewer::defaultDistance(45), 1e-6);
    const auto single = viewer::fitCamera(repeated.data(), 1, 3, 45);
    EXPECT_EQ(single.target, QVector3D());
    EXPECT_NEAR(single.distance, viewer::defaultDistance(45), 1e-6);
}

TEST(DrawBudget, LeavesRoomForFixedCostsAndNeverDrawsNothing) {
    // Per-point cost, fixed cost, and 0.85 * 33 ms less the fixed cost over the per-point cost.
    const std::tuple<double, double, size_t> rows[] = {
        {1e-7, 0.0, 280500}, {1e-7, 0.01, 180500}, {1e-7, 0.05, 1000}, {1e-9, 0.0, 5000000}};
    for (const auto& [perPoint, fixed, expected] : rows) {
        viewer::DrawBudget budget(0.033);
        EXPECT_EQ(budget.pointsPerFrame(5000000), 100000u) << "a first guess before any frame";
        budget.record(100000, 100000 * perPoint, 100000 * perPoint + fixed);
        EXPECT_NEAR(double(budget.pointsPerFrame(5000000)), double(expected), 2.0) << fixed;
    }
    EXPECT_EQ(viewer::DrawBudget(0).pointsPerFrame(123), 123u);
    EXPECT_EQ(viewer::DrawBudget(0.033).pointsPerFrame(10), 10u);
}

Model twoCaptures() {
    Model m;
    m.points = {{0, 0, 0}, {1, 1, 1}};
    m.colors = {{1, 2, 3}, {4, 5, 6}};
    m.cameras = {{{200, 100}, {80, 60}, {}}};
    m.cameraImageSizes = {{160, 120}};
    m.poses = {{}, {{0, 0, 0, 2}, {1, 2, 3}, {}}};  // a half turn about z, not of unit length
    m.captures = {{0, 0, {{1, {}}}, {}, {}}, {0, 1, {{0, {}}, {1, {}}}, "d\xc3\xa9j\xc3\xa0.jpg", {}}};
    return m;
}

TEST(SceneBuild, CapturesGetTheirImageRectangleAndUnitRotation) {
    const viewer::SceneModel scene = viewer::buildScene(twoCaptures(), 0.2f);
    ASSERT_EQ(scene.points.size(), 2u);
    EXPECT_EQ(scene.points[1].b, 6);
    ASSERT_EQ(scene.captures.size(), 2u);
    const viewer::SceneCapture& c = scene.captures[1];
    EXPECT_FLOAT_EQ(c.left, 80 * 0.2f / 200);
    EXPECT_FLOAT_EQ(c.top, 60 * 0.2f / 100);
    EXPECT_FLOAT_EQ(c.width, 160 * 0.2f / 200);
    EXPECT_FLOAT_EQ(c.height, 120 * 0.2f / 100);
    EXPECT_EQ(c.rotation, QQuaternion(0, 0, 0, 1));
    EXPECT_EQ(c.imagePath, QString::fromUtf8("déjà.jpg"));
    EXPECT_EQ(scene.capturePoints[1], (std::vector<uint32_t>{0, 1}));
    // The frustum: centre of projection at the capture centre, corner (w, h) rotated half a turn about z.
    const auto v = viewer::frustumVertices(c, 2.0f);
    EXPECT_EQ(v[0], QVector3D(1, 2, 3));
    const QVector3D corner = v[5] - v[0];
    EXPECT_NEAR(corner.x(), -(c.width - c.left) * 2, 1e-6);
    EXPECT_NEAR(corner.y(), -(c.height - c.top) * 2, 1e-6);
    EXPECT_NEAR(corner.z(), 0.4f, 1e-6);
}

TEST(SceneBuild, InconsistentModelsAreRefusedWithTheCaptureNamed) {
    const std::pair<const char*, std::function<void(Model&)>> rows[] = {
        {"the sparse model has fewer colours than points", [](Model& m) { m.colors.pop_back(); }},
        {"capture 1: camera index 1 out of range", [](Model& m) { m.captures[1].cameraIdx = 1; }},
        {"capture 1: pose index 7 out of range", [](Model& m) { m.captures[1].poseIdx = 7; }},
        {"capture 1: point index 2 out of range",
         [](Model& m) { m.captures[1].measurements[1].pointIdx = 2; }},
        {"capture 0: focal length is zero or not finite", [](Model& m) { m.cameras[0].focal.y = 0; }},
        {"capture 1: rotation is not a valid quaternion", [](Model& m) { m.poses[1].rotation.z = 0; }},
    };
    for (const auto& [message, spoil] : rows) {
        Model m = twoCaptures();
        spoil(m);
        EXPECT_THAT([&] { viewer::buildScene(m, 0.2f); },
                    testing::ThrowsMessage<std::logic_error>(testing::StrEq(message)));
    }
    EXPECT_THROW(viewer::buildScene(KestrixSparseModel(), 0.2f), std::runtime_error);
}

}  // namespace
