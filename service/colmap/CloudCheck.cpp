#include "service/colmap/CloudCheck.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>

#include <Eigen/Eigenvalues>

namespace kxcolmap {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr size_t kMaxNeighbours = 10;
constexpr size_t kLeaf = 8;
constexpr uint8_t kSame = 3;  // in place of an axis: every point of the range is the same

// The nearest points found so far, nearest first.
struct Neighbours {
    size_t k = 1;
    size_t nb = 0;
    uint32_t idx[kMaxNeighbours];
    double d2[kMaxNeighbours];

    double worst() const { return nb < k ? kInf : d2[nb - 1]; }
    void offer(uint32_t i, double d) {
        if (d >= worst()) {
            return;
        }
        size_t at = nb < k ? nb++ : nb - 1;
        for (; at > 0 && d2[at - 1] > d; --at) {
            idx[at] = idx[at - 1];
            d2[at] = d2[at - 1];
        }
        idx[at] = i;
        d2[at] = d;
    }
};

// A balanced kd-tree kept in the order of its points: range [lo, hi) splits at mid = lo + (hi - lo) / 2
// on axis mAxes[mid], the points before mid lying on its low side and those after on its high side.
class PointTree {
public:
    explicit PointTree(std::vector<Eigen::Vector3d> points)
        : mPoints(std::move(points)), mAxes(mPoints.size()) {
        build(0, mPoints.size());
    }
    const std::vector<Eigen::Vector3d>& points() const { return mPoints; }
    void nearest(const Eigen::Vector3d& q, size_t k, Neighbours& out) const {
        out.k = std::min(k, kMaxNeighbours);
        out.nb = 0;
        search(0, mPoints.size(), q, out);
    }

private:
    std::vector<Eigen::Vector3d> mPoints;
    std::vector<uint8_t> mAxes;

    void build(size_t lo, size_t hi) {
        if (hi - lo <= kLeaf) {
            return;
        }
        Eigen::Vector3d min = mPoints[lo], max = mPoints[lo];
        for (size_t i = lo + 1; i < hi; ++i) {
            min = min.cwiseMin(mPoints[i]);
            max = max.cwiseMax(mPoints[i]);
        }
        int axis = 0;
        const size_t mid = lo + (hi - lo) / 2;
        if ((max - min).maxCoeff(&axis) == 0) {
            mAxes[mid] = kSame;  // else a search would visit every copy
            return;
        }
        std::nth_element(
            mPoints.begin() + lo, mPoints.begin() + mid, mPoints.begin() + hi,
            [axis](const Eigen::Vector3d& a, const Eigen::Vector3d& b) { return a[axis] < b[axis]; });
        mAxes[mid] = uint8_t(axis);
        build(lo, mid);
        build(mid + 1, hi);
    }

    void search(size_t lo, size_t hi, const Eigen::Vector3d& q, Neighbours& out) const {
        if (hi - lo <= kLeaf) {
            for (size_t i = lo; i < hi; ++i) {
                out.offer(uint32_t(i), (mPoints[i] - q).squaredNorm());
            }
            return;
        }
        const size_t mid = lo + (hi - lo) / 2;
        if (mAxes[mid] == kSame) {
            for (size_t i = lo; i < std::min(hi, lo + out.k); ++i) {
                out.offer(uint32_t(i), (mPoints[i] - q).squaredNorm());
            }
            return;
        }
        const double diff = q[mAxes[mid]] - mPoints[mid][mAxes[mid]];
        out.offer(uint32_t(mid), (mPoints[mid] - q).squaredNorm());
        const bool low = diff < 0;
        search(low ? lo : mid + 1, low ? mid : hi, q, out);
        if (diff * diff < out.worst()) {
            search(low ? mid + 1 : lo, low ? hi : mid, q, out);
        }
    }
};

// Calls work(begin, end) on slices of [0, n), one per core.
template <class Work>
void inParallel(size_t n, const Work& work) {
    const size_t nbThreads =
        std::min<size_t>(std::max(1u, std::thread::hardware_concurrency()), 1 + n / 4096);
    std::vector<std::thread> threads;
    for (size_t t = 1; t < nbThreads; ++t) {
        threads.emplace_back([&work, n, nbThreads, t] { work(n * t / nbThreads, n * (t + 1) / nbThreads); });
    }
    work(0, n / nbThreads);
    for (std::thread& thread : threads) {
        thread.join();
    }
}

// Nearest rank; infinity for no values. Reorders the values.
double percentile(std::vector<double>& values, double q) {
    if (values.empty()) {
        return kInf;
    }
    const auto at = values.begin() + std::lround(q * double(values.size() - 1));
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

std::vector<Eigen::Vector3d> finite(const std::vector<Eigen::Vector3d>& points) {
    std::vector<Eigen::Vector3d> kept;
    kept.reserve(points.size());
    std::copy_if(points.begin(), points.end(), std::back_inserter(kept),
                 [](const Eigen::Vector3d& p) { return p.allFinite(); });
    return kept;
}

// Distance from q to the least-squares plane of its nearest sparse points; infinity when they span no
// plane.
double planeDistance(const PointTree& sparse, const Eigen::Vector3d& q, Neighbours& nb) {
    sparse.nearest(q, kMaxNeighbours, nb);
    if (nb.nb < 3) {
        return kInf;
    }
    Eigen::Vector3d centre = Eigen::Vector3d::Zero();
    for (size_t i = 0; i < nb.nb; ++i) {
        centre += sparse.points()[nb.idx[i]];
    }
    centre /= double(nb.nb);
    Eigen::Matrix3d scatter = Eigen::Matrix3d::Zero();
    for (size_t i = 0; i < nb.nb; ++i) {
        const Eigen::Vector3d d = sparse.points()[nb.idx[i]] - centre;
        scatter += d * d.transpose();
    }
    Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> solver;
    solver.computeDirect(scatter);
    const Eigen::Vector3d spread = solver.eigenvalues();  // ascending
    if (!(spread(1) > 1e-9 * spread(2))) {
        return kInf;  // collinear neighbours: every plane through their line fits
    }
    return std::abs(solver.eigenvectors().col(0).dot(q - centre));
}

// Fraction of the points inside the box of the sparse points (1st to 99th percentile per axis) grown by
// 20 % of its size on each side: a few stray sparse points must not widen it.
double insideFraction(const std::vector<Eigen::Vector3d>& sparse,
                      const std::vector<Eigen::Vector3d>& points) {
    if (sparse.empty() || points.empty()) {
        return 0;
    }
    Eigen::Vector3d lo, hi;
    std::vector<double> values(sparse.size());
    for (int axis = 0; axis < 3; ++axis) {
        std::transform(sparse.begin(), sparse.end(), values.begin(),
                       [axis](const Eigen::Vector3d& p) { return p[axis]; });
        lo[axis] = percentile(values, 0.01);
        hi[axis] = percentile(values, 0.99);
    }
    const Eigen::Vector3d margin = 0.2 * (hi - lo);
    lo -= margin;
    hi += margin;
    const auto nbInside = std::count_if(points.begin(), points.end(), [&](const Eigen::Vector3d& p) {
        return (p.array() >= lo.array()).all() && (p.array() <= hi.array()).all();
    });
    return double(nbInside) / double(points.size());
}

}  // namespace

CloudCheck checkCloud(const std::vector<Eigen::Vector3d>& sparse, const std::vector<Eigen::Vector3d>& dense,
                      const std::vector<Eigen::Vector3d>& probes) {
    std::vector<Eigen::Vector3d> distinct = finite(sparse);
    const auto lexical = [](const Eigen::Vector3d& a, const Eigen::Vector3d& b) {
        return std::lexicographical_compare(a.data(), a.data() + 3, b.data(), b.data() + 3);
    };
    std::sort(distinct.begin(), distinct.end(), lexical);
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    const PointTree sparseTree(std::move(distinct));
    const std::vector<Eigen::Vector3d>& sparsePoints = sparseTree.points();
    std::vector<Eigen::Vector3d> kept = finite(dense);

    CloudCheck check;
    check.nbSparse = sparsePoints.size();
    check.nbDense = kept.size();
    std::vector<double> gaps(sparsePoints.size());
    inParallel(sparsePoints.size(), [&](size_t begin, size_t end) {
        Neighbours nb;
        for (size_t i = begin; i < end; ++i) {
            sparseTree.nearest(sparsePoints[i], 2, nb);
            gaps[i] = nb.nb < 2 ? 0 : std::sqrt(nb.d2[1]);  // nb.idx[0] is the point itself
        }
    });
    check.spacing = sparsePoints.size() < 2 ? 0 : percentile(gaps, 0.5);

    std::vector<double> distances(kept.size(), kInf);
    if (sparsePoints.size() >= 3) {
        inParallel(kept.size(), [&](size_t begin, size_t end) {
            Neighbours nb;
            for (size_t i = begin; i < end; ++i) {
                distances[i] = planeDistance(sparseTree, kept[i], nb) / check.spacing;
            }
        });
    }
    check.medianPlaneDistance = percentile(distances, 0.5);
    check.p80PlaneDistance = percentile(distances, 0.8);
    check.insideBox = insideFraction(sparsePoints, kept);

    const std::vector<Eigen::Vector3d> targets = finite(probes);
    if (!kept.empty() && !targets.empty()) {
        const PointTree denseTree(std::move(kept));
        const double reach2 = std::pow(1.5 * check.spacing, 2);
        size_t nbCovered = 0;
        Neighbours nb;
        for (const Eigen::Vector3d& p : targets) {
            denseTree.nearest(p, 1, nb);
            nbCovered += nb.d2[0] <= reach2;
        }
        check.coverage = double(nbCovered) / double(targets.size());
    }
    return check;
}

WithheldModel withholdPoints(const ksm::Model<1u>& model, size_t every) {
    if (every < 2) {
        throw std::invalid_argument("withholdPoints: every must be at least 2, not " + std::to_string(every));
    }
    constexpr uint32_t kGone = std::numeric_limits<uint32_t>::max();
    WithheldModel out;
    out.model.poses = model.poses;
    out.model.cameras = model.cameras;
    out.model.cameraImageSizes = model.cameraImageSizes;
    std::vector<uint32_t> renumbered(model.points.size(), kGone);
    for (size_t i = 0; i < model.points.size(); ++i) {
        if ((i + 1) % every == 0) {
            out.withheld.push_back(model.points[i]);
            continue;
        }
        renumbered[i] = uint32_t(out.model.points.size());
        out.model.points.push_back(model.points[i]);
        if (i < model.colors.size()) {
            out.model.colors.push_back(model.colors[i]);
        }
    }
    out.model.captures.reserve(model.captures.size());
    for (const ksm::Capture& capture : model.captures) {
        ksm::Capture& reduced = out.model.captures.emplace_back(capture);
        reduced.measurements.clear();
        for (const ksm::Measurement& m : capture.measurements) {
            if (m.pointIdx < renumbered.size() && renumbered[m.pointIdx] != kGone) {
                reduced.measurements.push_back({renumbered[m.pointIdx], m.extra});
            }
        }
    }
    return out;
}

}  // namespace kxcolmap
