// Fronto-parallel plane sweep with normalised cross-correlation: works for any pair, including forward
// motion, where rectification is impossible.
#include <algorithm>
#include <cmath>

#include <Eigen/Dense>
#include <opencv2/imgproc.hpp>

#include "service/colmap/DenseScene.h"

namespace kxcolmap::dense {
namespace {

// Textureless windows give meaningless correlation.
constexpr float kMinVariance = 4e-5f;
// A match is this many pixels off, typically; with the pixel's parallax it bounds the depth's error.
constexpr double kMatchError = 0.5;

cv::Matx33d toCv(const Eigen::Matrix3d& m) {
    cv::Matx33d c;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            c(i, j) = m(i, j);
        }
    }
    return c;
}

}  // namespace

cv::Mat sweptDepths(const View& ref, const cv::Mat& refGrey, const View& src, const cv::Mat& srcGrey,
                    std::pair<double, double> range, const DepthOptions& options) {
    const int w = refGrey.cols, h = refGrey.rows;
    const cv::Size box(options.window, options.window);
    // Relative pose: x_src = Rrs x_ref + trs.
    const Eigen::Matrix3d Rrs = src.R * ref.R.transpose();
    const Eigen::Vector3d trs = src.t - Rrs * ref.t;
    // Planes must stay in front of a source that lies ahead of the reference.
    const double ahead = (ref.R * src.centre() + ref.t).z();
    range.first = std::max(range.first, 1.25 * ahead);
    if (!(range.first < range.second)) {
        return cv::Mat(h, w, CV_32F, cv::Scalar(0));
    }
    const Eigen::Matrix3d refInv = ref.K.inverse();

    // Where the range's two ends project, per pixel: the parallax decides the number of planes and which
    // pixels can be judged at all.
    const Eigen::Matrix3d A = src.K * Rrs * refInv;  // the plane at infinity
    const Eigen::Vector3d b = src.K * trs;
    cv::Mat parallax(h, w, CV_32F);
    std::vector<float> sampled;
    for (int y = 0; y < h; ++y) {
        float* row = parallax.ptr<float>(y);
        for (int x = 0; x < w; ++x) {
            const Eigen::Vector3d a = A * Eigen::Vector3d(x, y, 1);
            const Eigen::Vector3d nearP = a * range.first + b, farP = a * range.second + b;
            double p = 0;
            if (nearP.z() > 0 && farP.z() > 0) {
                p = (nearP.head<2>() / nearP.z() - farP.head<2>() / farP.z()).norm();
            }
            row[x] = float(p);
            if ((x % 8) == 0 && (y % 8) == 0) {
                sampled.push_back(row[x]);
            }
        }
    }
    std::nth_element(sampled.begin(), sampled.begin() + sampled.size() * 9 / 10, sampled.end());
    const double spread = sampled.empty() ? 0 : sampled[sampled.size() * 9 / 10];
    const int nbPlanes = std::clamp(int(std::ceil(spread)), 32, 192);

    cv::Mat r, s;
    refGrey.convertTo(r, CV_32F, 1.0 / 255);
    srcGrey.convertTo(s, CV_32F, 1.0 / 255);
    cv::Mat meanR, meanRR, varR;
    cv::boxFilter(r, meanR, CV_32F, box);
    cv::boxFilter(r.mul(r), meanRR, CV_32F, box);
    varR = meanRR - meanR.mul(meanR);

    cv::Mat best(h, w, CV_32F, cv::Scalar(-2)), bestIdx(h, w, CV_32S, cv::Scalar(-1));
    cv::Mat before(h, w, CV_32F, cv::Scalar(-2)), after(h, w, CV_32F, cv::Scalar(-2));
    cv::Mat previous(h, w, CV_32F, cv::Scalar(-2));
    cv::Mat warped, meanS, meanSS, meanRS, score(h, w, CV_32F);
    const double nearInv = 1 / range.first, farInv = 1 / range.second;
    const auto inverseDepth = [&](double k) { return farInv + (nearInv - farInv) * k / (nbPlanes - 1); };
    const Eigen::RowVector3d n(0, 0, 1);
    for (int k = 0; k < nbPlanes; ++k) {
        // Homography of the plane z = d of the reference camera, reference pixel to source pixel.
        const Eigen::Matrix3d H = src.K * (Rrs + trs * n * inverseDepth(k)) * refInv;
        cv::warpPerspective(s, warped, cv::Mat(toCv(H)), r.size(), cv::INTER_LINEAR | cv::WARP_INVERSE_MAP,
                            cv::BORDER_CONSTANT, cv::Scalar(0));
        cv::boxFilter(warped, meanS, CV_32F, box);
        cv::boxFilter(warped.mul(warped), meanSS, CV_32F, box);
        cv::boxFilter(warped.mul(r), meanRS, CV_32F, box);
        for (int y = 0; y < h; ++y) {
            const float* mr = meanR.ptr<float>(y);
            const float* vr = varR.ptr<float>(y);
            const float* ms = meanS.ptr<float>(y);
            const float* mss = meanSS.ptr<float>(y);
            const float* mrs = meanRS.ptr<float>(y);
            float* sc = score.ptr<float>(y);
            float* bs = best.ptr<float>(y);
            int* bi = bestIdx.ptr<int>(y);
            float* bf = before.ptr<float>(y);
            float* af = after.ptr<float>(y);
            const float* pv = previous.ptr<float>(y);
            for (int x = 0; x < w; ++x) {
                const float vs = mss[x] - ms[x] * ms[x];
                const float v = vr[x] * vs;
                sc[x] = v > kMinVariance * kMinVariance ? (mrs[x] - mr[x] * ms[x]) / std::sqrt(v) : -1.f;
                if (k > 0 && bi[x] == k - 1) {
                    af[x] = sc[x];
                }
                if (sc[x] > bs[x]) {
                    bs[x] = sc[x];
                    bi[x] = k;
                    bf[x] = pv[x];
                    af[x] = -2;
                }
            }
        }
        std::swap(previous, score);
    }

    cv::Mat depth(h, w, CV_32F, cv::Scalar(0));
    const int margin = options.window / 2;
    for (int y = margin; y < h - margin; ++y) {
        const float* vr = varR.ptr<float>(y);
        const float* bs = best.ptr<float>(y);
        const int* bi = bestIdx.ptr<int>(y);
        const float* bf = before.ptr<float>(y);
        const float* af = after.ptr<float>(y);
        const float* px = parallax.ptr<float>(y);
        float* d = depth.ptr<float>(y);
        for (int x = margin; x < w - margin; ++x) {
            // The ends of the range are where the true depth lies beyond it.
            const int k = bi[x];
            if (vr[x] < kMinVariance || bs[x] < options.minScore || k <= 0 || k == nbPlanes - 1 ||
                bf[x] < -1 || af[x] < -1) {
                continue;
            }
            // Parabola through the best score and its neighbours.
            const double denom = bf[x] - 2.0 * bs[x] + af[x];
            const double offset = denom < 0 ? std::clamp(0.5 * (bf[x] - af[x]) / denom, -0.5, 0.5) : 0.0;
            const Eigen::Vector3d ray = refInv * Eigen::Vector3d(x, y, 1);
            const double z = 1 / inverseDepth(k + offset);
            // The parallax grows about linearly with inverse depth: a match error moves the depth by
            // this fraction of itself.
            if (!(z * kMatchError * (nearInv - farInv) <= options.maxDepthError * px[x])) {
                continue;
            }
            const Eigen::Vector3d p = Rrs * (ray * z) + trs;
            if (p.z() <= 0) {
                continue;
            }
            const double u = src.K(0, 0) * p.x() / p.z() + src.K(0, 2),
                         v = src.K(1, 1) * p.y() / p.z() + src.K(1, 2);
            if (u < margin || v < margin || u >= src.width - margin || v >= src.height - margin) {
                continue;
            }
            d[x] = float(z * ray.z());
        }
    }
    return depth;
}

}  // namespace kxcolmap::dense
