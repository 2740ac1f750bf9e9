// Semi-global matching on a rectified pair, for pairs whose epipoles lie outside both images.
#include <algorithm>
#include <cmath>
#include <limits>

#include <Eigen/Dense>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include "service/colmap/DenseScene.h"

namespace kxcolmap::dense {
namespace {

cv::Mat toCv(const Eigen::Matrix3d& m) {
    cv::Mat c(3, 3, CV_64F);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            c.at<double>(i, j) = m(i, j);
        }
    }
    return c;
}

Eigen::Matrix3d toEigen(const cv::Mat& m) {
    Eigen::Matrix3d e;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            e(i, j) = m.at<double>(i, j);
        }
    }
    return e;
}

// More disparities than this make matching slow and mostly wrong; such pairs are left to the sweep.
constexpr int kMaxDisparities = 384;

// Semi-global matching's own sub-pixel step is drawn towards whole disparities, which shows as steps
// of depth; a parabola through the normalised cross-correlation at the whole disparity and its two
// neighbours replaces it. Returns disparities as float, NaN where there is none.
cv::Mat refined(const cv::Mat& fixedPoint, short invalid, const cv::Mat& left, const cv::Mat& right,
                int window) {
    cv::Mat l, r, meanL, meanLL, meanR, meanRR;
    left.convertTo(l, CV_32F, 1.0 / 255);
    right.convertTo(r, CV_32F, 1.0 / 255);
    const cv::Size box(window, window);
    cv::boxFilter(l, meanL, CV_32F, box);
    cv::boxFilter(l.mul(l), meanLL, CV_32F, box);
    cv::boxFilter(r, meanR, CV_32F, box);
    cv::boxFilter(r.mul(r), meanRR, CV_32F, box);
    const int half = window / 2;
    const float n = float(window * window);
    cv::Mat out(fixedPoint.size(), CV_32F, cv::Scalar(std::numeric_limits<float>::quiet_NaN()));
    for (int y = half; y < l.rows - half; ++y) {
        for (int x = half; x < l.cols - half; ++x) {
            const short raw = fixedPoint.at<short>(y, x);
            if (raw <= invalid) {
                continue;
            }
            const int whole = int(std::lround(raw / 16.0));
            float score[3];
            bool inside = true;
            for (int k = 0; k < 3 && inside; ++k) {
                const int xr = x - (whole + k - 1);
                if (xr < half || xr >= r.cols - half) {
                    inside = false;
                    break;
                }
                float cross = 0;
                for (int j = -half; j <= half; ++j) {
                    const float* lp = l.ptr<float>(y + j) + x - half;
                    const float* rp = r.ptr<float>(y + j) + xr - half;
                    for (int i = 0; i < window; ++i) {
                        cross += lp[i] * rp[i];
                    }
                }
                const float ml = meanL.at<float>(y, x), mr = meanR.at<float>(y, xr);
                const float v = (meanLL.at<float>(y, x) - ml * ml) * (meanRR.at<float>(y, xr) - mr * mr);
                score[k] = v > 1e-12f ? (cross / n - ml * mr) / std::sqrt(v) : -1;
            }
            if (!inside || score[1] < score[0] || score[1] < score[2]) {
                continue;  // the best match is not where the matching put it
            }
            const float denom = score[0] - 2 * score[1] + score[2];
            const float offset =
                denom < 0 ? std::clamp(0.5f * (score[0] - score[2]) / denom, -0.5f, 0.5f) : 0.f;
            out.at<float>(y, x) = float(whole) + offset;
        }
    }
    return out;
}

// The source turned half a turn about its optical axis: the same camera, its image upside down.
View upsideDown(const View& view) {
    View turned = view;
    const Eigen::Matrix3d half = Eigen::Vector3d(-1, -1, 1).asDiagonal();
    turned.R = half * view.R;
    turned.t = half * view.t;
    turned.K(0, 2) = view.width - 1 - view.K(0, 2);
    turned.K(1, 2) = view.height - 1 - view.K(1, 2);
    return turned;
}

}  // namespace

cv::Mat rectifiedDepths(const View& ref, const cv::Mat& refGrey, const View& source,
                        const cv::Mat& sourceGrey, std::pair<double, double> range,
                        const DepthOptions& options) {
    // Rectification splits the pair's rotation between the two images; a source turned more than a
    // quarter turn against the reference (the next strip of a survey, flown the other way) would leave
    // both images turned so far that much of them falls outside. Matching it upside down avoids that.
    const Eigen::Matrix3d relative = source.R * ref.R.transpose();
    const bool turn = std::abs(std::atan2(relative(1, 0), relative(0, 0))) > M_PI / 2;
    cv::Mat turnedGrey;
    if (turn) {
        cv::rotate(sourceGrey, turnedGrey, cv::ROTATE_180);
    }
    const View src = turn ? upsideDown(source) : source;
    const cv::Mat& srcGrey = turn ? turnedGrey : sourceGrey;
    const int w = refGrey.cols, h = refGrey.rows;
    const Eigen::Matrix3d Rrs = src.R * ref.R.transpose();
    const Eigen::Vector3d trs = src.t - Rrs * ref.t;
    cv::Mat R1, R2, P1, P2, Q;
    const cv::Mat T = (cv::Mat_<double>(3, 1) << trs.x(), trs.y(), trs.z());
    const cv::Size size(std::max(w, src.width), std::max(h, src.height));
    cv::stereoRectify(toCv(ref.K), cv::noArray(), toCv(src.K), cv::noArray(), size, toCv(Rrs), T, R1, R2, P1,
                      P2, Q, 0, -1, size);
    // stereoRectify lines the pair up along x or, when the baseline is mostly vertical, along y; matching
    // runs along rows, so a vertical pair is matched transposed.
    const bool vertical = std::abs(P2.at<double>(1, 3)) > std::abs(P2.at<double>(0, 3));
    const Eigen::Matrix3d rect1 = toEigen(R1);
    Eigen::Matrix3d newK1, newK2;
    newK1 = toEigen(P1.colRange(0, 3));
    newK2 = toEigen(P2.colRange(0, 3));
    const Eigen::Vector3d shift2(P2.at<double>(0, 3), P2.at<double>(1, 3), P2.at<double>(2, 3));

    // Disparity of a reference-camera point: its rectified x (or y) in the first image minus the second's.
    const auto disparityOf = [&](const Eigen::Vector3d& xRef) {
        const Eigen::Vector3d q = rect1 * xRef;
        const Eigen::Vector3d a = newK1 * q, b = newK2 * q + shift2;
        return vertical ? a.y() / a.z() - b.y() / b.z() : a.x() / a.z() - b.x() / b.z();
    };
    // The range's ends along the optical axis bound the disparities the pair can show.
    double lo = 1e300, hi = -1e300;
    const Eigen::Matrix3d refInv = ref.K.inverse();
    for (const double z : {range.first, range.second}) {
        for (const auto& [x, y] :
             {std::pair<int, int>{0, 0}, {w - 1, 0}, {0, h - 1}, {w - 1, h - 1}, {w / 2, h / 2}}) {
            const double d = disparityOf(refInv * Eigen::Vector3d(x, y, 1) * z);
            lo = std::min(lo, d);
            hi = std::max(hi, d);
        }
    }
    if (!(std::abs(lo) < 1e6 && std::abs(hi) < 1e6 && hi - lo < kMaxDisparities - 20)) {
        return sweptDepths(ref, refGrey, src, srcGrey, range, options);
    }
    const int minDisparity = int(std::floor(lo)) - 2;
    const int nbDisparities = (int(std::ceil(hi)) + 2 - minDisparity + 15) / 16 * 16;

    cv::Mat map1x, map1y, map2x, map2y, left, right;
    cv::initUndistortRectifyMap(toCv(ref.K), cv::noArray(), R1, P1, size, CV_32FC1, map1x, map1y);
    cv::initUndistortRectifyMap(toCv(src.K), cv::noArray(), R2, P2, size, CV_32FC1, map2x, map2y);
    cv::remap(refGrey, left, map1x, map1y, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(0));
    cv::remap(srcGrey, right, map2x, map2y, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(0));
    if (vertical) {
        left = left.t();
        right = right.t();
    }
    const int block = 5;
    auto sgbm = cv::StereoSGBM::create(minDisparity, nbDisparities, block, 8 * block * block,
                                       32 * block * block, 1, 31, 10, 100, 2, cv::StereoSGBM::MODE_SGBM_3WAY);
    // Matching leaves the first minDisparity + nbDisparities columns without a disparity; padding both
    // images on the left by as much keeps the whole image.
    const int pad = std::max(0, minDisparity + nbDisparities);
    cv::Mat paddedLeft, paddedRight, raw;
    cv::copyMakeBorder(left, paddedLeft, 0, 0, pad, 0, cv::BORDER_CONSTANT, cv::Scalar(0));
    cv::copyMakeBorder(right, paddedRight, 0, 0, pad, 0, cv::BORDER_CONSTANT, cv::Scalar(0));
    sgbm->compute(paddedLeft, paddedRight, raw);  // fixed point, 4 fractional bits; disp12MaxDiff 1 checks
    raw = raw.colRange(pad, raw.cols).clone();
    const short invalid = short((minDisparity - 1) * 16);
    cv::Mat disparity = refined(raw, invalid, left, right, options.window);
    if (vertical) {
        disparity = disparity.t();
    }

    // Each reference pixel looks its disparity up where its ray lands in the rectified image, and turns
    // it into a depth along that ray.
    cv::Mat depth(h, w, CV_32F, cv::Scalar(0));
    const Eigen::Matrix3d toRect = newK1 * rect1 * refInv;
    for (int y = 0; y < h; ++y) {
        float* out = depth.ptr<float>(y);
        for (int x = 0; x < w; ++x) {
            const Eigen::Vector3d p = toRect * Eigen::Vector3d(x, y, 1);
            if (p.z() <= 0) {
                continue;
            }
            const int u = int(std::lround(p.x() / p.z())), v = int(std::lround(p.y() / p.z()));
            if (u < 0 || v < 0 || u >= disparity.cols || v >= disparity.rows) {
                continue;
            }
            const double d = disparity.at<float>(v, u);
            if (std::isnan(d)) {
                continue;
            }
            // The depth along the reference ray whose rectified disparity is d: disparity is monotonic in
            // depth along a ray, and exact for the rectified point.
            const Eigen::Vector3d ray = refInv * Eigen::Vector3d(x, y, 1);
            const Eigen::Vector3d q = rect1 * ray;
            const Eigen::Vector3d a = newK1 * q;
            // b(z) = newK2 q z + shift2; solve (a/a.z) - (b/b.z) = d along the matching axis.
            const Eigen::Vector3d bq = newK2 * q;
            const int axis = vertical ? 1 : 0;
            const double target = a[axis] / a.z() - d;  // the coordinate in the second image
            // target = (bq[axis] z + shift2[axis]) / (bq.z z + shift2.z)
            const double denom = bq[axis] - target * bq.z();
            if (std::abs(denom) < 1e-12) {
                continue;
            }
            const double z = (target * shift2.z() - shift2[axis]) / denom;
            if (z > range.first && z < range.second) {
                out[x] = float(z);
            }
        }
    }
    return depth;
}

}  // namespace kxcolmap::dense
