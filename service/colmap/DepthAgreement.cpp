// What the per-source depths become: one depth where sources agree, and the normals of the result.
#include <algorithm>
#include <cmath>

#include <Eigen/Dense>
#include <opencv2/imgproc.hpp>

#include "service/colmap/DenseScene.h"

namespace kxcolmap::dense {
namespace {

// Side of the window that each normal is fitted over, pixels.
constexpr int kNormalWindow = 11;
// Fewest depths in a window that a plane is fitted to.
constexpr double kMinFitDepths = 12;
// Largest relative difference between a measured depth and the plane fitted around it.
constexpr double kFitTolerance = 0.01;

}  // namespace

cv::Mat agreedDepths(const std::vector<cv::Mat>& depths, double tolerance) {
    if (depths.empty()) {
        return {};
    }
    const int h = depths[0].rows, w = depths[0].cols;
    cv::Mat out(h, w, CV_32F, cv::Scalar(0));
    std::vector<const float*> rows(depths.size());
    for (int y = 0; y < h; ++y) {
        for (size_t s = 0; s < depths.size(); ++s) {
            rows[s] = depths[s].ptr<float>(y);
        }
        float* o = out.ptr<float>(y);
        for (int x = 0; x < w; ++x) {
            // The largest group of sources that agree with one of them; ties keep the first.
            int bestCount = 0;
            double bestSum = 0;
            for (size_t a = 0; a < rows.size(); ++a) {
                const float da = rows[a][x];
                if (!(da > 0)) {
                    continue;
                }
                int count = 0;
                double sum = 0;
                for (size_t b = 0; b < rows.size(); ++b) {
                    const float db = rows[b][x];
                    if (db > 0 && std::abs(db - da) <= tolerance * da) {
                        ++count;
                        sum += db;
                    }
                }
                if (count > bestCount) {
                    bestCount = count;
                    bestSum = sum;
                }
            }
            if (bestCount >= 2) {
                o[x] = float(bestSum / bestCount);
            }
        }
    }
    return out;
}

cv::Mat normalsOf(cv::Mat& depth, const Eigen::Matrix3d& K) {
    // Over a plane, inverse depth is linear in the pixel coordinates: 1/z = g . (x, y, 1), with the
    // plane's normal along K^T g. A least-squares fit of g over each window, from box sums, gives
    // normals steady enough for the fusion's normal check.
    const int h = depth.rows, w = depth.cols;
    cv::Mat valid(h, w, CV_64F), inv(h, w, CV_64F), xs(h, w, CV_64F), ys(h, w, CV_64F);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const float z = depth.at<float>(y, x);
            const double v = z > 0 ? 1 : 0;
            valid.at<double>(y, x) = v;
            inv.at<double>(y, x) = z > 0 ? 1.0 / z : 0;
            xs.at<double>(y, x) = v * x;
            ys.at<double>(y, x) = v * y;
        }
    }
    const cv::Size window(kNormalWindow, kNormalWindow);
    const auto sum = [&](const cv::Mat& m) {
        cv::Mat s;
        cv::boxFilter(m, s, CV_64F, window, cv::Point(-1, -1), false);
        return s;
    };
    const cv::Mat sw = sum(valid), sx = sum(xs), sy = sum(ys), sxx = sum(xs.mul(xs)), sxy = sum(xs.mul(ys)),
                  syy = sum(ys.mul(ys)), si = sum(inv), six = sum(inv.mul(xs)), siy = sum(inv.mul(ys));
    cv::Mat normals(h, w, CV_32FC3, cv::Scalar::all(0));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double n = sw.at<double>(y, x);
            if (!(depth.at<float>(y, x) > 0) || n < kMinFitDepths) {
                depth.at<float>(y, x) = 0;
                continue;
            }
            // Coordinates about the pixel keep the normal equations well conditioned.
            const double mx = sx.at<double>(y, x) - x * n, my = sy.at<double>(y, x) - y * n;
            const double mxx = sxx.at<double>(y, x) - 2 * x * sx.at<double>(y, x) + x * x * n;
            const double myy = syy.at<double>(y, x) - 2 * y * sy.at<double>(y, x) + y * y * n;
            const double mxy =
                sxy.at<double>(y, x) - x * sy.at<double>(y, x) - y * sx.at<double>(y, x) + x * y * n;
            const double mi = si.at<double>(y, x);
            const double mix = six.at<double>(y, x) - x * mi, miy = siy.at<double>(y, x) - y * mi;
            Eigen::Matrix3d A;
            A << mxx, mxy, mx, mxy, myy, my, mx, my, n;
            const Eigen::Vector3d g = A.ldlt().solve(Eigen::Vector3d(mix, miy, mi));
            // Back from coordinates about the pixel: 1/z = a (X - x) + b (Y - y) + c.
            const Eigen::Vector3d gAbs(g.x(), g.y(), g.z() - g.x() * x - g.y() * y);
            Eigen::Vector3d normal = -(K.transpose() * gAbs);
            const double len = normal.norm();
            // The fitted depth replaces the measured one where they agree: it averages the window's
            // noise away. Elsewhere the window spans an edge or outliers, and the pixel is dropped.
            const double fitted = 1 / g.z();
            const float measured = depth.at<float>(y, x);
            if (!(len > 0) || !gAbs.allFinite() ||
                !(std::abs(fitted - measured) <= kFitTolerance * measured)) {
                depth.at<float>(y, x) = 0;
                continue;
            }
            depth.at<float>(y, x) = float(fitted);
            normal /= len;
            normals.at<cv::Vec3f>(y, x) = cv::Vec3f(float(normal.x()), float(normal.y()), float(normal.z()));
        }
    }
    return normals;
}

}  // namespace kxcolmap::dense
