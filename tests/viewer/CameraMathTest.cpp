// Camera maths without a GL context: orbit, pan, zoom and the fit to a cloud (picking, a notch's factor and
// the captures' scale are checked by the render tests).
#include <cmath>
#include <limits>

#include <QMatrix4x4>

#include <gtest/gtest.h>

#include "viewer/CameraMath.h"

namespace {
using viewer::ViewPose;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(CameraMath, OrbitStepsTiltTwistOrStayFinite) {
    struct Row {
        const char* name;
        QPointF from, to;
        bool identity;
        int axisZ;  // 0: axis in the view plane (tilt), 1: about the viewing axis (twist)
    };
    const Row rows[] = {
        {"no move", {0.2, 0.1}, {0.2, 0.1}, true, 0},
        {"vertical drag through the centre", {0.0, -0.05}, {0.0, 0.05}, false, 0},
        {"tangential drag at the edge", {0.6, -0.01}, {0.6, 0.01}, false, 1},
        {"radial drag (|c| = 1)", {0.3, 0.3}, {0.6, 0.6}, false, 0},
        {"not a position", {kNaN, 0.0}, {0.1, 0.1}, true, 0},
    };
    for (const Row& row : rows) {
        const QQuaternion q = viewer::orbitStep(row.from, row.to);
        ASSERT_TRUE(std::isfinite(q.lengthSquared())) << row.name;  // NaN or infinity in any component
        if (row.identity) {
            EXPECT_EQ(q, QQuaternion()) << row.name;
            continue;
        }
        QVector3D axis;
        float angle = 0;
        q.getAxisAndAngle(&axis, &angle);
        EXPECT_GT(angle, 0.1f) << row.name;
        if (row.axisZ) {
            EXPECT_NEAR(std::abs(axis.z()), 1.0f, 1e-4) << row.name;
        } else {
            EXPECT_NEAR(axis.z(), 0.0f, 1e-4) << row.name;
        }
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

}  // namespace
