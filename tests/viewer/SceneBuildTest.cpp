// Sparse models turned into drawable scenes: the capture fields, and every inconsistency refused.
#include <functional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "viewer/SceneBuild.h"

namespace {
using Model = ksm::Model<1u>;

Model twoCaptures() {
    Model m;
    m.points = {{0, 0, 0}, {1, 1, 1}};
    m.colors = {{1, 2, 3}, {4, 5, 6}};
    m.cameras = {{{200, 100}, {80, 60}, {}}};
    m.cameraImageSizes = {{160, 120}};
    m.poses.resize(2);
    m.poses[1].rotation = {0, 0, 0, 2};  // a half turn about z, not of unit length
    m.poses[1].centre = {1, 2, 3};
    m.captures.resize(2);
    m.captures[0].measurements = {{1, {}}};
    m.captures[1].poseIdx = 1;
    m.captures[1].imagePath = "d\xc3\xa9j\xc3\xa0.jpg";
    m.captures[1].measurements = {{0, {}}, {1, {}}};
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
    struct Row {
        const char* message;
        std::function<void(Model&)> spoil;
    };
    const Row rows[] = {
        {"the sparse model has fewer colours than points", [](Model& m) { m.colors.pop_back(); }},
        {"capture 1: camera index 1 out of range", [](Model& m) { m.captures[1].cameraIdx = 1; }},
        {"capture 1: pose index 7 out of range", [](Model& m) { m.captures[1].poseIdx = 7; }},
        {"capture 1: point index 2 out of range",
         [](Model& m) { m.captures[1].measurements[1].pointIdx = 2; }},
        {"capture 0: focal length is zero or not finite", [](Model& m) { m.cameras[0].focal.y = 0; }},
        {"capture 1: rotation is not a valid quaternion",
         [](Model& m) {
             m.poses[1].rotation = {0, 0, 0, 0};
         }},
    };
    for (const Row& row : rows) {
        Model m = twoCaptures();
        row.spoil(m);
        EXPECT_THAT([&] { viewer::buildScene(m, 0.2f); },
                    testing::ThrowsMessage<std::logic_error>(testing::StrEq(row.message)));
    }
    EXPECT_THROW(viewer::buildScene(KestrixSparseModel(), 0.2f), std::runtime_error);
}

}  // namespace
