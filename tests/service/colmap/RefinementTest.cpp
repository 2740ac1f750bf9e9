#include <gtest/gtest.h>

#include "service/colmap/Refinement.h"

namespace {

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
