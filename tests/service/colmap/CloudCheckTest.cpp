#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include <Eigen/Geometry>
#include <gtest/gtest.h>

#include "service/colmap/CloudCheck.h"

namespace {

using V = Eigen::Vector3d;
constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::nan("");

std::vector<V> grid(int n, double step, double z = 0) {
    std::vector<V> points;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            points.emplace_back(i * step, j * step, z);
        }
    }
    return points;
}

// Two parallel sampled planes 3 spacings apart, turned and moved far from the origin: each dense point
// must be fitted to its own plane only, whatever the orientation.
TEST(CloudCheck, PlaneDistancesAreMeasuredInSpacings) {
    const double step = 0.5;
    const Eigen::Isometry3d place =
        Eigen::Translation3d(1000, -2000, 500) * Eigen::AngleAxisd(0.4, V(1, 2, 3).normalized());
    std::vector<V> sparse = grid(30, step), upper = grid(30, step, 3 * step), dense;
    sparse.insert(sparse.end(), upper.begin(), upper.end());
    for (int i = 5; i < 25; ++i) {
        for (int j = 5; j < 25; ++j) {
            dense.emplace_back((i + 0.37) * step, (j + 0.61) * step, (dense.size() % 7) * 0.06 * step);
        }
    }
    for (std::vector<V>* points : {&sparse, &dense}) {
        for (V& p : *points) {
            p = place * p;
        }
    }
    const auto check = kxcolmap::checkCloud(sparse, dense, {});
    EXPECT_EQ(check.nbSparse, 1800u);
    EXPECT_EQ(check.nbDense, 400u);
    EXPECT_NEAR(check.spacing, step, 1e-9);
    EXPECT_NEAR(check.medianPlaneDistance, 0.18, 1e-6);
    EXPECT_NEAR(check.p80PlaneDistance, 0.3, 1e-6);  // 7 heights, each 1/7 of the points
    EXPECT_EQ(check.insideBox, 1);
    EXPECT_EQ(check.coverage, 0);  // no probes
}

// Stray sparse points (under 1 %) and repeated ones change neither the box nor the spacing.
TEST(CloudCheck, BoxAndCoverage) {
    std::vector<V> sparse = grid(30, 1), twice = grid(30, 1);
    sparse.insert(sparse.end(), twice.begin(), twice.end());
    sparse.insert(sparse.end(), 5, V(1000, 1000, 0));
    sparse.emplace_back(-1000, 0, 0);
    const std::vector<V> dense = {{34, 10, 0}, {-5, 10, 0},     {10, 10, 0}, {35.5, 10, 0},
                                  {-7, 10, 0}, {10, 10, 0.001}, {kNaN, 0, 0}};
    const std::vector<V> probes = {{10, 10, 0}, {10, 11.55, 0}, {34, 11.45, 0}, {20, 20, 0}, {0, kNaN, 0}};
    const auto check = kxcolmap::checkCloud(sparse, dense, probes);
    EXPECT_EQ(check.nbSparse, 902u);
    EXPECT_EQ(check.nbDense, 6u);
    EXPECT_EQ(check.spacing, 1);
    EXPECT_EQ(check.insideBox, 0.5);  // within 0 - 20 % to 29 + 20 % of 29; the box is flat in z
    EXPECT_EQ(check.coverage, 0.5);   // within 1.5: the first and third probes
}

// Against the nearest dense point found by trying them all, on scattered points.
TEST(CloudCheck, CoverageFindsTheNearestDensePoint) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> in(0, 29);
    std::vector<V> dense(300), probes(200);
    for (std::vector<V>* points : {&dense, &probes}) {
        for (V& p : *points) {
            p = V(in(random), in(random), in(random) / 10);
        }
    }
    size_t nbNear = 0;
    for (const V& p : probes) {
        double nearest = kInf;
        for (const V& q : dense) {
            nearest = std::min(nearest, (p - q).norm());
        }
        nbNear += nearest <= 1.5;
    }
    EXPECT_EQ(kxcolmap::checkCloud(grid(30, 1), dense, probes).coverage, double(nbNear) / probes.size());
}

TEST(CloudCheck, DegenerateInputGivesDefinedFigures) {
    const auto none = kxcolmap::checkCloud(grid(4, 1), {}, grid(4, 1));
    EXPECT_EQ(none.coverage, 0);
    EXPECT_EQ(none.insideBox, 0);
    EXPECT_EQ(none.medianPlaneDistance, kInf);

    const auto two = kxcolmap::checkCloud({{0, 0, 0}, {0, 2, 0}}, {{0, 1, 0}}, {{0, 0, 0}});
    EXPECT_EQ(two.spacing, 2);
    EXPECT_EQ(two.p80PlaneDistance, kInf);
    EXPECT_EQ(two.coverage, 1);

    const auto line = kxcolmap::checkCloud({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}}, {{1, 1, 0}}, {});
    EXPECT_EQ(line.medianPlaneDistance, kInf);

    const auto three = kxcolmap::checkCloud({{0, 0, 0}, {2, 0, 0}, {0, 2, 0}}, {{1, 1, 1}}, {});
    EXPECT_NEAR(three.medianPlaneDistance, 0.5, 1e-12);

    const std::vector<V> copies(100000, V(10, 10, 0));  // within 1.5 of 9 grid points
    EXPECT_EQ(kxcolmap::checkCloud(grid(30, 1), copies, grid(30, 1)).coverage, 9.0 / 900);

    const auto empty = kxcolmap::checkCloud({}, {{0, 0, 0}}, {{0, 0, 0}});
    EXPECT_EQ(empty.spacing, 0);
    EXPECT_EQ(empty.insideBox, 0);
    EXPECT_EQ(empty.medianPlaneDistance, kInf);
}

TEST(CloudCheck, WithholdingRenumbersTheMeasurementsOfTheKeptPoints) {
    ksm::Model<1u> model;
    model.poses.resize(2);
    model.cameras.resize(1);
    model.cameraImageSizes = {{640, 480}};
    for (uint8_t i = 0; i < 7; ++i) {
        model.points.push_back({float(i), 0, 0});
        model.colors.push_back({i, i, i});
    }
    model.captures.resize(2);
    model.captures[0].imagePath = "a.jpg";
    model.captures[0].measurements = {{0, {0.5f, 1}}, {2, {}}, {3, {3, 3}}, {9, {}}};
    model.captures[1].measurements = {{5, {}}, {6, {6, 6}}, {1, {1, 1}}};

    const auto out = kxcolmap::withholdPoints(model, 3);  // removes points 2 and 5
    EXPECT_EQ(out.withheld, (std::vector<kxsfm::Vec3<float>>{{2, 0, 0}, {5, 0, 0}}));
    ASSERT_EQ(out.model.points.size(), 5u);
    EXPECT_EQ(out.model.points[3].x, 4);
    EXPECT_EQ(out.model.colors[4], (kxsfm::Color{6, 6, 6}));
    EXPECT_EQ(out.model.captures[0].measurements,
              (std::vector<ksm::Measurement>{{0, {0.5f, 1}}, {2, {3, 3}}}));
    EXPECT_EQ(out.model.captures[1].measurements, (std::vector<ksm::Measurement>{{4, {6, 6}}, {1, {1, 1}}}));
    EXPECT_EQ(out.model.captures[0].imagePath, "a.jpg");
    EXPECT_EQ(out.model.poses, model.poses);
    EXPECT_EQ(out.model.cameraImageSizes, model.cameraImageSizes);
    EXPECT_THROW(kxcolmap::withholdPoints(model, 1), std::invalid_argument);
}

}  // namespace
