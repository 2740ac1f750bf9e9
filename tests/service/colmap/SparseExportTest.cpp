#include <cmath>

#include <gtest/gtest.h>

#include "service/colmap/SparseExport.h"
#include "service/colmap/TextModel.h"
#include "tests/support/TestSupport.h"

namespace {

ksm::Model<1u> threeCaptures() {
    ksm::Model<1u> m;
    m.cameras = {{{1000.5f, 1000.5f}, {512, 384}, {0, 0, 0, 0, 0}},
                 {{2010.25f, 2003.75f}, {2000.5f, 1125.25f}, {-0.11f, 0.07f, 0.001f, -0.002f, 0}},
                 {{800, 801}, {320, 240}, {0.1f, -0.2f, 0, 0, 0.05f}}};
    m.cameraImageSizes = {{1024, 768}, {4000, 2250}, {640, 480}};
    const float s = 0.5f;  // cos and sin of 90 degrees about (1, 1, 1) / sqrt(3), halved
    m.poses = {{{1, 0, 0, 0}, {0, 0, 0}, {}},
               {{0.70710677f, 0, 0.70710677f, 0}, {1.5f, -2.25f, 10}, {}},
               {{s, s, s, s}, {-3, 4.125f, 0.5f}, {}}};
    m.points = {{0.1f, 0.2f, 5}, {1, -1, 6}, {-2, 0.5f, 7}, {3, 3, 3}};
    m.colors = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {7, 8, 9}};
    m.captures = {
        {0, 0, {{0, {10.25f, 20.5f}}, {1, {30, 40}}, {2, {1000.125f, 700}}}, "/p/a.jpg", {1, 2, 3, 4}},
        {1, 1, {{1, {5, 6}}, {2, {3999.5f, 2249.5f}}}, "/p/b.heic", {5, 6, 7, 8}},
        {2, 2, {{0, {1, 2}}, {2, {3, 4}}}, "/p/ç.avif", {9, 10, 11, 12}}};
    return m;
}

// What the dense programs read must be the model itself: cameras exactly (whatever distortion they carry),
// poses up to rounding, and points with the tracks that link them to the captures.
TEST(SparseExport, TheTextExportReadsBackAsTheSameModel) {
    const ksm::Model<1u> model = threeCaptures();
    std::vector<kxcolmap::ImageSource> sources;
    std::vector<std::string> names;
    for (const ksm::Capture& c : model.captures) {
        names.push_back("0000" + std::to_string(names.size()) + ".jpg");
        sources.push_back({names.back(), c.imagePath, c.imageDigest});
    }
    EXPECT_EQ(kxcolmap::cameraModelOf(model.cameras[0]), "PINHOLE");
    EXPECT_EQ(kxcolmap::cameraModelOf(model.cameras[1]), "OPENCV");
    EXPECT_EQ(kxcolmap::cameraModelOf(model.cameras[2]), "FULL_OPENCV");
    kxtest::TempDir dir;
    kxcolmap::writeTextModel(model, names, dir.path());
    kxcolmap::TextModelSummary summary;
    const ksm::Model<1u> back = kxcolmap::readTextModel(dir.path(), sources, &summary);

    EXPECT_EQ(back.cameras, model.cameras);
    EXPECT_EQ(back.cameraImageSizes, model.cameraImageSizes);
    EXPECT_EQ(back.points, model.points);
    EXPECT_EQ(back.colors, model.colors);
    EXPECT_EQ(back.captures, model.captures);
    EXPECT_EQ(summary.nbMeasurements, 7u);
    ASSERT_EQ(back.poses.size(), model.poses.size());
    for (size_t i = 0; i < model.poses.size(); ++i) {
        const auto &q = model.poses[i].rotation, &r = back.poses[i].rotation;
        EXPECT_LT(std::hypot(std::hypot(r.w - q.w, r.x - q.x), std::hypot(r.y - q.y, r.z - q.z)), 2e-6f) << i;
        const auto &c = model.poses[i].centre, &d = back.poses[i].centre;
        EXPECT_LT(std::hypot(d.x - c.x, d.y - c.y, d.z - c.z), 2e-5f) << i;
    }

    // A model whose indices point nowhere is refused rather than written half.
    ksm::Model<1u> broken = model;
    broken.captures[1].measurements[0].pointIdx = 4;
    EXPECT_THROW(kxcolmap::writeTextModel(broken, names, dir.path()), std::runtime_error);
    broken = model;
    broken.captures[2].poseIdx = 3;
    EXPECT_THROW(kxcolmap::writeTextModel(broken, names, dir.path()), std::runtime_error);
}

}  // namespace
