// The viewer drawing a small known scene under a real GL context: object ids at projected pixels,
// picking, highlighting, thumbnails, refused and superseded loads, and progressive drawing.
#include <cmath>
#include <future>
#include <set>
#include <thread>

#include <QImage>
#include <QWheelEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QTest>

#include <gtest/gtest.h>

#include "model/KsmWriter.h"
#include "tests/support/TestSupport.h"
#include "vexkit/ThreadPool.h"
#include "viewer/CameraMath.h"
#include "viewer/ModelViewer.h"

namespace {
constexpr uint32_t kNone = 0xFFFFFFFF;
const unsigned kNbWorkers = std::max(1u, std::thread::hardware_concurrency());  // as the pool has

// Three points and two cameras looking along +z from z = -2, their image planes side by side.
ksm::Model<1u> sampleModel(const std::string& image0, const std::string& image1) {
    ksm::Model<1u> m;
    m.points = {{-0.6f, 1.0f, 1.0f}, {0.6f, 1.0f, 1.0f}, {0.0f, -1.0f, 0.5f}};
    m.colors = {{10, 200, 10}, {10, 10, 200}, {200, 200, 10}};
    m.cameras = {{{100, 100}, {50, 50}, {}}};
    m.cameraImageSizes = {{100, 100}};
    m.poses = {{{}, {-0.6f, 0.0f, -2.0f}, {}}, {{}, {0.6f, 0.0f, -2.0f}, {}}};
    m.captures = {{0, 0, {{0, {}}, {2, {}}}, image0, {}},
                  {0, 1, {{1, {}}}, image1, {}}};  // camera, pose, points, image
    return m;
}

class Render : public ::testing::Test {
protected:
    void SetUp() override {
        viewer.resize(240, 180);
        viewer.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&viewer));
        if (viewer.isDisabledGL()) {
            GTEST_SKIP() << "no OpenGL 3.3 context";
        }
    }
    QImage frame() { return viewer.grabFramebuffer(); }
    // Loads the model and backs the camera off so that the cameras are in view too.
    void load(const ksm::Model<1u>& model) {
        viewer.setModel(model, true);
        viewer::ViewPose pose = viewer.pose();
        pose.eye = pose.target + pose.rotation.conjugated().rotatedVector(QVector3D(0, 0, 7));
        viewer.setPose(pose);
    }
    // Device pixel (top-down) of a world point under the current camera.
    QPoint pixelOf(const kxsfm::Vec3<float>& world) {
        const QVector3D ndc = viewer.projMat().map(QVector3D(world.x, world.y, world.z));
        return QPoint(int((ndc.x() + 1) / 2 * viewer.viewportWidth()),
                      int((1 - ndc.y()) / 2 * viewer.viewportHeight()));
    }
    // Holds `count` workers of the pool, in queue order, until the gate opens.
    static std::promise<void> holdPool(unsigned count) {
        std::promise<void> gate;
        std::shared_future<void> opened = gate.get_future().share();
        for (unsigned i = 0; i < count; ++i) {
            threadPool.enqueueStd([opened]() { opened.wait(); });
        }
        return gate;
    }
    // Whether `wanted` is the id at `pixel` or, for a point a couple of pixels wide, at a neighbour.
    bool hasIdNear(QPoint pixel, uint32_t wanted) {
        for (int d = 0; d < 9; ++d) {
            if (viewer.objectIdAt(pixel.x() + d % 3 - 1, pixel.y() + d / 3 - 1) == wanted) {
                return true;
            }
        }
        return false;
    }

    kxtest::TempDir dir;
    ModelViewer viewer;
};

TEST_F(Render, ObjectIdsNamePointsAndCapturesAndNothingElseAndSurviveRefusedLoads) {
    const auto model = sampleModel("", "");
    load(model);
    frame();
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(hasIdNear(pixelOf(model.points[i]), i)) << "point " << i;
    }
    // The middle of each image plane (depth 0.2 ahead of the camera, times the frustum scale).
    const float ahead = 0.2f * viewer.captureScale();
    for (uint32_t c = 0; c < 2; ++c) {
        const auto& centre = model.poses[c].centre;
        const QPoint at = pixelOf({centre.x, centre.y, centre.z + ahead});
        EXPECT_EQ(viewer.objectIdAt(at.x(), at.y()), 3 + c);
    }
    EXPECT_EQ(viewer.objectIdAt(0, 0), kNone);

    // A refused model keeps the shown one (files that do not load are the window's tests).
    auto broken = model;
    broken.captures[1].measurements[0].pointIdx = 3;
    EXPECT_THROW(viewer.setModel(broken, true), std::out_of_range);
    frame();
    EXPECT_EQ(viewer.getNbCaptures(), 2u);
    EXPECT_TRUE(hasIdNear(pixelOf(model.points[0]), 0));

    // Files are read on the pool while events go on; a later load supersedes one still in flight (one
    // worker reads both, so the earlier ends first).
    QStringList outcomes;
    QObject::connect(&viewer, &ModelViewer::modelLoaded, [&] { outcomes << "loaded"; });
    QObject::connect(&viewer, &ModelViewer::modelFailed, [&](const QString& error) { outcomes << error; });
    ksm::writeKsm(dir / "empty.ksm", ksm::Model<1u>());
    std::promise<void> others = holdPool(kNbWorkers - 1), gate = holdPool(1);
    viewer.loadPlyModel(QString::fromStdString((dir / "missing.ply").string()));
    viewer.loadKsmModel(QString::fromStdString((dir / "empty.ksm").string()));
    QCoreApplication::processEvents();
    EXPECT_TRUE(outcomes.isEmpty());
    gate.set_value();
    EXPECT_TRUE(QTest::qWaitFor([&] { return outcomes.contains("loaded"); }));
    others.set_value();
    EXPECT_EQ(outcomes, QStringList{"loaded"});
    EXPECT_EQ(viewer.getNbCaptures(), 0u);
}

TEST_F(Render, ClicksHighlightOrRecentreAndArrowsWrap) {
    load(sampleModel("", ""));
    // Ctrl + wheel: points about three times as wide, so that a click lands on them whatever the rounding.
    const float sizeFactor = viewer.pointSizeFactor();
    QWheelEvent wheel(QPointF(10, 10), viewer.mapToGlobal(QPoint(10, 10)), QPoint(), QPoint(0, 9 * 120),
                      Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&viewer, &wheel);
    ASSERT_NEAR(viewer.pointSizeFactor(), sizeFactor * std::exp(9 * 0.125), 1e-3);
    const viewer::ViewPose start = viewer.pose();
    const QImage before = frame();
    // The top row rounds outside the id image: clicks there change nothing.
    QTest::mouseClick(&viewer, Qt::LeftButton, {}, QPoint(120, 0));
    QTest::mouseDClick(&viewer, Qt::LeftButton, {}, QPoint(120, 0));
    frame();
    EXPECT_EQ(viewer.pose().target, start.target);
    EXPECT_FALSE(viewer.highlightedCapture());

    const QPoint p0 = pixelOf({-0.6f, 1.0f, 1.0f});
    const QPoint cam1 = pixelOf({0.6f, 0.0f, -2.0f + 0.2f * viewer.captureScale()});
    // A click measured at another scale than the id image's (the window moved to another screen) is
    // dropped, never read past the image.
    viewer.makeCurrent();
    viewer.pickAt(*viewer::normalizedPos(cam1, viewer.width(), viewer.height()), false,
                  viewer.viewportSize() * 2);
    viewer.doneCurrent();
    EXPECT_FALSE(viewer.highlightedCapture());
    QTest::mouseClick(&viewer, Qt::LeftButton, {}, cam1);
    frame();
    ASSERT_EQ(viewer.highlightedCapture(), std::optional<uint32_t>(1));
    // Capture 1 saw point 1 only: point 1 turns red, point 0 keeps its colour.
    QImage after = frame();
    const QPoint p1 = pixelOf({0.6f, 1.0f, 1.0f});
    EXPECT_EQ(after.pixelColor(p1), QColor(255, 0, 0));
    EXPECT_EQ(after.pixelColor(p0), before.pixelColor(p0));

    for (const auto& [key, expected] : std::vector<std::pair<Qt::Key, uint32_t>>{
             {Qt::Key_Right, 0}, {Qt::Key_Right, 1}, {Qt::Key_Left, 0}, {Qt::Key_Left, 1}}) {
        QTest::keyClick(&viewer, key);
        EXPECT_EQ(viewer.highlightedCapture(), std::optional<uint32_t>(expected));
    }
    QTest::keyClick(&viewer, Qt::Key_Right);  // capture 0 saw points 0 and 2
    after = frame();
    EXPECT_EQ(after.pixelColor(p0), QColor(255, 0, 0));
    EXPECT_NE(after.pixelColor(p1), QColor(255, 0, 0));

    // A double click on a point recentres the orbit there, keeping distance and direction.
    const QVector3D point2(0.0f, -1.0f, 0.5f);
    QTest::mouseDClick(&viewer, Qt::LeftButton, {}, pixelOf({point2.x(), point2.y(), point2.z()}));
    frame();
    EXPECT_EQ(viewer.pose().target, point2);
    EXPECT_NEAR((viewer.pose().eye - viewer.pose().target).length(), (start.eye - start.target).length(),
                1e-4);
    EXPECT_EQ(viewer.pose().rotation, start.rotation);
}

TEST_F(Render, ThumbnailReplacesThePlaceholderOnceDecoded) {
    QImage blue(64, 64, QImage::Format_RGB888);
    blue.fill(QColor(0, 0, 255));
    const std::string good = (dir / "blue.jpg").string();
    ASSERT_TRUE(blue.save(QString::fromStdString(good), "JPG"));
    const std::string corrupt = (dir / "corrupt.jpg").string();
    kxtest::writeFile(corrupt, "not a jpeg at all");
    std::promise<void> gate = holdPool(kNbWorkers);  // the first frame cannot have the thumbnail yet
    load(sampleModel(good, corrupt));
    const float ahead = 0.2f * viewer.captureScale();
    // Off the optical axis, which is drawn as a line through the middle of the plane.
    const QPoint plane0 = pixelOf({-0.55f, 0.05f, -2.0f + ahead});
    const QPoint plane1 = pixelOf({0.65f, 0.05f, -2.0f + ahead});
    const QColor first = frame().pixelColor(plane0);
    gate.set_value();
    EXPECT_LT(first.blue(), 200) << "the placeholder comes first";
    QColor shown;
    EXPECT_TRUE(QTest::qWaitFor([&] { return (shown = frame().pixelColor(plane0)).blue() > 200; }));
    EXPECT_LT(shown.red(), 60);
    // The undecodable file keeps the translucent placeholder: white at alpha 64 over black.
    const QColor placeholder = frame().pixelColor(plane1);
    EXPECT_NEAR(placeholder.red(), 64, 3);
    EXPECT_EQ(placeholder.red(), placeholder.blue());
    // Points, frusta and textures were all drawn by now.
    viewer.makeCurrent();
    EXPECT_EQ(viewer.context()->functions()->glGetError(), GLenum(GL_NO_ERROR));
    viewer.doneCurrent();
}

TEST_F(Render, LargeCloudsRefineToEveryPointWithinTheBudget) {
    ksm::Model<1u> cloud;
    // One point every few pixels, so that each keeps its own id in the picture.
    const size_t n = 80 * 60;
    for (size_t i = 0; i < n; ++i) {
        cloud.points.push_back({float(i % 80) / 80 - 0.5f, float(i / 80) / 80 - 0.5f, 0.0f});
        cloud.colors.push_back({255, 255, 255});
    }
    viewer.setModel(cloud, true);
    viewer.setFrameBudget(1e-6);  // far too short: every frame draws the minimum
    frame();                      // measures how long points take
    viewer.setFrameBudget(1e-6);
    frame();
    ASSERT_TRUE(viewer.isRefining());
    int frames = 1;
    for (; viewer.isRefining() && frames < 1000; ++frames) {
        frame();
    }
    EXPECT_FALSE(viewer.isRefining());
    EXPECT_GT(frames, 3);
    // Complete: the last point of the model order is there, under its own id.
    EXPECT_TRUE(hasIdNear(pixelOf(cloud.points.back()), uint32_t(n - 1)));
}

TEST_F(Render, SampleCloudsDrawInColourUnlessEmpty) {
    KX_REQUIRE_SHARED_TESTDATA(data);
    const std::string oneColour =  // all blue, or a single point
        "assimp_float-color_ascii.ply pdal_issue_2421_float64_int32.ply "
        "pdal_text_extradim_char-blue_alpha.ply";
    const std::string empty = "trimesh_empty_binle_zero-vertices.ply: the PLY cloud has no points";
    for (const auto& entry : std::filesystem::recursive_directory_iterator(data / "ply")) {
        const std::string name = entry.path().filename().string();
        try {
            viewer::loadModelAndWait(viewer, QString::fromStdString(entry.path().string()));
        } catch (const std::runtime_error& e) {  // the folder "derived" is no cloud either
            EXPECT_TRUE(name == "derived" || name + ": " + e.what() == empty) << e.what();
            continue;
        }
        const viewer::ViewPose& pose = viewer.pose();  // the gizmo, drawn about the target, behind the camera
        viewer.setPose({pose.rotation, pose.eye, 2 * pose.eye - pose.target});
        const QImage image = frame().convertToFormat(QImage::Format_RGB32);
        const auto* pixels = reinterpret_cast<const QRgb*>(image.constBits());
        const std::set<QRgb> colours(pixels, pixels + image.width() * image.height());  // and the background
        EXPECT_GE(colours.size(), oneColour.find(name) == std::string::npos ? 3u : 2u) << name;
    }
}

}  // namespace
