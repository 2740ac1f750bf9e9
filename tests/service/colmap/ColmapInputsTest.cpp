// What colmap's programs read: the photographs as JPEG, the sparse model as text, and the cameras staged
// and refined.
#include <cmath>

#include <gtest/gtest.h>

#include "service/colmap/InputImages.h"
#include "service/colmap/Refinement.h"
#include "service/colmap/SparseExport.h"
#include "service/colmap/TextModel.h"
#include "tests/support/ImageFixtures.h"
#include "tests/support/TestSupport.h"
#include "vexkit/ImageReader.h"

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

// Stored files have no extension; HEIF and AVIF reach the mapper as JPEG copies of the same pixels,
// JPEG as a link to the stored file itself.
TEST(InputImages, EveryPhotographFormatBecomesAJpegTheMapperReads) {
    const struct {
        const char* fixture;
        FileType format;
        vexkit::ImageFileType readAs;
        bool linked;
    } rows[] = {{"a.jpg", FileType::kJpg, vexkit::ImageFileType::kJpeg, true},
                {"a.heic", FileType::kHeif, vexkit::ImageFileType::kHeif, false},
                {"a.avif", FileType::kAvif, vexkit::ImageFileType::kAvif, false}};
    for (const auto& row : rows) {
        kxtest::TempDir dir;
        if (row.format == FileType::kJpg) {
            kxtest::writeJpeg(dir / row.fixture, 96, 64);
        } else {
            kxtest::writeHeif(dir / row.fixture, 96, 64);
        }
        std::filesystem::copy_file(dir / row.fixture, dir / "stored");
        const auto target = dir / kxcolmap::mapperName(7);
        kxcolmap::placeImage(dir / "stored", row.format, target);
        EXPECT_EQ(target.filename(), "00007.jpg");
        EXPECT_EQ(std::filesystem::is_symlink(target), row.linked) << row.fixture;

        const auto reader = vexkit::createImageReader();
        reader->setFile((dir / row.fixture).c_str(), row.readAs);
        const auto original = reader->decodeTo8UC3();
        reader->setFile(target.c_str(), vexkit::ImageFileType::kJpeg);
        EXPECT_GT(kxtest::psnr(reader->decodeTo8UC3(), original), 35) << row.fixture;
    }
}

// Each code maps with one focal length and at most radial terms, and frees the rest only at the end.
TEST(Refinement, StagesOfEachOpticModel) {
    const struct {
        const char* code;
        bool fixed, distorted;
        const char* mapping;
        const char* refined;  // empty: no final stage
        bool principalPoint;
    } rows[] = {
        {"F1", false, false, "SIMPLE_PINHOLE", "", false},
        {"F1D2", false, false, "RADIAL", "", false},
        {"F1D5", false, false, "RADIAL", "OPENCV", false},
        {"F1C2D5", false, false, "RADIAL", "OPENCV", true},
        {"F2", false, false, "SIMPLE_PINHOLE", "PINHOLE", false},
        {"F2D5", false, false, "RADIAL", "OPENCV", false},
        {"F2C2", false, false, "SIMPLE_PINHOLE", "PINHOLE", true},
        {"F2C2D5", false, false, "RADIAL", "OPENCV", true},
        {"F2", false, true, "FULL_OPENCV", "", false},
        {"F2C2D5", true, true, "FULL_OPENCV", "", false},
    };
    for (const auto& row : rows) {
        const auto staged = kxcolmap::stagedOptics(row.code, row.fixed, row.distorted);
        EXPECT_EQ(staged.mapping.cameraModel, row.mapping) << row.code;
        EXPECT_FALSE(staged.mapping.refinePrincipalPoint) << row.code;
        EXPECT_EQ(staged.mapping.refineExtraParams, std::string(row.mapping) == "RADIAL") << row.code;
        EXPECT_EQ(staged.mapping.refineFocal, !row.fixed) << row.code;
        EXPECT_EQ(staged.refined ? staged.refined->cameraModel : "", row.refined) << row.code;
        EXPECT_EQ(staged.refined && staged.refined->refinePrincipalPoint, row.principalPoint) << row.code;
    }
}

TEST(Refinement, CamerasRewrittenWithTheSameValues) {
    EXPECT_EQ(kxcolmap::rewriteCameras("# header\n1 RADIAL 1024 768 850.5 512 384 0.125 -0.25\n"
                                       "2 SIMPLE_PINHOLE 640 480 500 320 240\n",
                                       "OPENCV"),
              "# header\n1 OPENCV 1024 768 850.5 850.5 512 384 0.125 -0.25 0 0\n"
              "2 OPENCV 640 480 500 500 320 240 0 0 0 0\n");
    EXPECT_EQ(kxcolmap::rewriteCameras("3 SIMPLE_PINHOLE 640 480 500 320 240\n", "PINHOLE"),
              "3 PINHOLE 640 480 500 500 320 240\n");
    EXPECT_THROW(kxcolmap::rewriteCameras("1 RADIAL 1024 768 850.5 512\n", "OPENCV"), std::runtime_error);
    EXPECT_THROW(kxcolmap::rewriteCameras("1 RADIAL 1024 768 850 512 384 0 0\n", "PINHOLE"),
                 std::runtime_error);
    EXPECT_THROW(kxcolmap::rewriteCameras("1 RADIAL 1024 768 850 512 384 0 zero\n", "OPENCV"),
                 std::runtime_error);
}

// Three cameras looking down the z axis at a grid of points, the measurements projected exactly with
// distortion and then moved by a known offset.
ksm::Model<1u> viewedGrid(const kxsfm::RealCamera& camera, float offset) {
    ksm::Model<1u> model;
    model.cameras = {camera};
    model.cameraImageSizes = {{1024, 768}};
    for (float x : {-1.f, 0.f, 1.f}) {
        model.poses.push_back({{1, 0, 0, 0}, {x, 0, -10}, {}});
    }
    for (int i = 0; i < 25; ++i) {
        model.points.push_back({float(i % 5) - 2, float(i / 5) - 2, 0});
    }
    model.colors.resize(model.points.size());
    for (uint32_t pose = 0; pose < model.poses.size(); ++pose) {
        ksm::Capture capture{0, pose, {}, "", {}};
        for (uint32_t k = 0; k < model.points.size(); ++k) {
            const auto& p = model.points[k];
            const double u = (p.x - model.poses[pose].centre.x) / 10, v = p.y / 10;
            const double r2 = u * u + v * v;
            const auto& e = camera.extra;
            const double radial = 1 + r2 * (e[0] + r2 * (e[1] + r2 * e[4]));
            const double du = u * radial + 2 * e[2] * u * v + e[3] * (r2 + 2 * u * u);
            const double dv = v * radial + e[2] * (r2 + 2 * v * v) + 2 * e[3] * u * v;
            capture.measurements.push_back({k,
                                            {float(camera.focal.x * du + camera.principal.x + offset),
                                             float(camera.focal.y * dv + camera.principal.y)}});
        }
        model.captures.push_back(capture);
    }
    return model;
}

TEST(Refinement, CollapsedCamerasAreRefusedWithTheirReason) {
    const kxsfm::RealCamera simple{{1000, 1000}, {512, 384}, {0.1f, -0.2f, 0, 0, 0}};
    const auto mapped = viewedGrid(simple, 0);
    EXPECT_NEAR(kxcolmap::meanReprojectionError(mapped), 0, 1e-3);
    EXPECT_NEAR(kxcolmap::meanReprojectionError(viewedGrid(simple, 1.5f)), 1.5, 1e-3);
    const kxsfm::RealCamera tangential{{1000, 1000}, {512, 384}, {0.1f, -0.2f, 0.01f, -0.02f, 0.05f}};
    EXPECT_NEAR(kxcolmap::meanReprojectionError(viewedGrid(tangential, 0)), 0, 1e-3);

    const struct {
        kxsfm::RealCamera refined;
        double error;
        const char* reason;
    } rows[] = {
        {{{1040, 1045}, {520, 380}, {}}, 0.4, ""},
        {{{1060, 1060}, {512, 384}, {}}, 0.4, "camera 0: the focal length moved by 6.0 %"},
        {{{1020, 980}, {512, 384}, {}}, 0.4, "camera 0: fx / fy became 1.040816"},
        {{{1000, 1000}, {512, 470}, {}},
         0.4,
         "camera 0: the principal point moved by more than 10 % of the image"},
        {{{1000, 1000}, {512, 384}, {}}, 0.6, "the reprojection error grew from 0.500 to 0.600 px"},
    };
    for (const auto& row : rows) {
        auto refined = mapped;
        refined.cameras[0] = row.refined;
        EXPECT_EQ(kxcolmap::collapseReason(mapped, 0.5, refined, row.error), row.reason);
    }
}

}  // namespace
