// Depth maps of a textured plane rendered by the test through known cameras: one source beside the
// reference (its pair is rectified) and one ahead of it (forward motion, swept planes).
#include <cmath>
#include <random>

#include <Eigen/Geometry>
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "service/colmap/DenseScene.h"

namespace {

using kxcolmap::dense::View;

constexpr int kWidth = 640, kHeight = 480;

struct Plane {
    Eigen::Vector3d normal = Eigen::Vector3d(0, std::sin(0.35), -std::cos(0.35));
    Eigen::Vector3d origin = Eigen::Vector3d(0, 0, 4);
    // Where the ray from c along d meets the plane.
    Eigen::Vector3d hit(const Eigen::Vector3d& c, const Eigen::Vector3d& d) const {
        return c + d * (normal.dot(origin - c) / normal.dot(d));
    }
};

View camera(const Eigen::Vector3d& centre, double yaw) {
    View v;
    v.width = kWidth, v.height = kHeight;
    v.K << 600, 0, 319.5, 0, 600, 239.5, 0, 0, 1;
    v.R = Eigen::AngleAxisd(yaw, Eigen::Vector3d::UnitY()).toRotationMatrix().transpose();
    v.t = -v.R * centre;
    return v;
}

// The plane as the camera sees it, textured with smoothed noise half a centimetre a texel.
cv::Mat render(const View& view, const Plane& plane, const cv::Mat& texture) {
    const Eigen::Vector3d e1 = plane.normal.cross(Eigen::Vector3d::UnitX()).normalized();
    const Eigen::Vector3d e2 = plane.normal.cross(e1);
    cv::Mat mapX(kHeight, kWidth, CV_32F), mapY(kHeight, kWidth, CV_32F), image;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const Eigen::Vector3d d = view.R.transpose() * view.K.inverse() * Eigen::Vector3d(x, y, 1);
            const Eigen::Vector3d p = plane.hit(view.centre(), d) - plane.origin;
            mapX.at<float>(y, x) = float(p.dot(e1) * 200 + texture.cols / 2);
            mapY.at<float>(y, x) = float(p.dot(e2) * 200 + texture.rows / 2);
        }
    }
    cv::remap(texture, image, mapX, mapY, cv::INTER_LINEAR, cv::BORDER_REFLECT);
    return image;
}

TEST(DenseStereo, DepthsOfARenderedPlaneMatchItsGeometry) {
    std::mt19937 random(7);
    cv::Mat texture(2000, 2000, CV_8U);
    cv::RNG(7).fill(texture, cv::RNG::UNIFORM, 0, 256);
    cv::GaussianBlur(texture, texture, cv::Size(0, 0), 1.2);
    cv::normalize(texture, texture, 0, 255, cv::NORM_MINMAX);

    const Plane plane;
    kxcolmap::dense::Scene scene;
    scene.views = {camera({0, 0, 0}, 0), camera({0.6, 0, 0}, -0.05), camera({0.05, 0.03, 1.5}, 0.02)};
    ASSERT_TRUE(kxcolmap::dense::epipolesOutside(scene.views[0], scene.views[1]));
    ASSERT_FALSE(kxcolmap::dense::epipolesOutside(scene.views[0], scene.views[2]));
    // Sparse points: the plane where the reference sees it.
    const View& ref = scene.views[0];
    for (int k = 0; k < 200; ++k) {
        const Eigen::Vector3d d = ref.K.inverse() * Eigen::Vector3d(random() % kWidth, random() % kHeight, 1);
        scene.points.push_back(plane.hit(ref.centre(), d));
        for (View& v : scene.views) {
            v.points.push_back(uint32_t(k));
        }
    }
    std::vector<cv::Mat> greys;
    for (const View& v : scene.views) {
        greys.push_back(render(v, plane, texture));
    }
    kxcolmap::dense::DepthOptions options;
    const std::vector<size_t> sources = kxcolmap::dense::pickSources(scene, 0, options);
    ASSERT_EQ(sources.size(), 2u);
    cv::Mat depth = kxcolmap::dense::depthsOf(scene, 0, {greys[0], greys[sources[0]], greys[sources[1]]},
                                              sources, options);
    ASSERT_EQ(depth.size(), cv::Size(kWidth, kHeight));

    // Every reference pixel whose plane point both sources see must have a depth close to the truth.
    std::vector<double> errors;
    size_t nbSeen = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const Eigen::Vector3d p = plane.hit(ref.centre(), ref.K.inverse() * Eigen::Vector3d(x, y, 1));
            bool seen = true;
            for (size_t s : sources) {
                const Eigen::Vector3d q = scene.views[s].K * scene.views[s].toCamera(p);
                seen = seen && q.x() / q.z() > 4 && q.y() / q.z() > 4 && q.x() / q.z() < kWidth - 5 &&
                       q.y() / q.z() < kHeight - 5;
            }
            nbSeen += seen;
            const float d = depth.at<float>(y, x);
            if (seen && d > 0) {
                errors.push_back(std::abs(d - p.z()) / p.z());
            }
        }
    }
    ASSERT_GT(nbSeen, size_t(kWidth * kHeight / 5));
    EXPECT_GE(double(errors.size()), 0.8 * double(nbSeen));
    std::nth_element(errors.begin(), errors.begin() + errors.size() / 2, errors.end());
    EXPECT_LT(errors[errors.size() / 2], 0.01);

    // The normals face the camera and follow the plane's.
    const cv::Mat normals = kxcolmap::dense::normalsOf(depth, ref.K);  // drops depths without a normal
    std::vector<double> angles;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const cv::Vec3f n = normals.at<cv::Vec3f>(y, x);
            if (depth.at<float>(y, x) > 0) {
                angles.push_back(
                    std::acos(std::min(1.0, Eigen::Vector3d(n[0], n[1], n[2]).dot(plane.normal))));
            }
        }
    }
    ASSERT_GT(angles.size(), errors.size() / 2);
    std::nth_element(angles.begin(), angles.begin() + angles.size() / 2, angles.end());
    EXPECT_LT(angles[angles.size() / 2], 5 * M_PI / 180);
}

}  // namespace
