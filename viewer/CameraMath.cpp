#include "viewer/CameraMath.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <random>

#include <QMatrix4x4>

#include <Eigen/Dense>

namespace viewer {

namespace {
constexpr double kTiny = 1e-10;
constexpr double kPi = 3.14159265358979323846;

bool finite(const QPointF& p) {
    return std::isfinite(p.x()) && std::isfinite(p.y());
}
}  // namespace

std::optional<QPointF> normalizedPos(const QPointF& pixel, double width, double height) {
    if (!(height > 0) || !finite(pixel)) {
        return std::nullopt;
    }
    return QPointF((pixel.x() - width / 2) / height, (pixel.y() - height / 2) / height);
}

QQuaternion orbitStep(const QPointF& from, const QPointF& to) {
    if (!finite(from) || !finite(to)) {
        return QQuaternion();
    }
    const QVector3D d(float(to.x() - from.x()), float(-(to.y() - from.y())), 0.0f);
    const QVector3D m(float((to.x() + from.x()) / 2), float(-(to.y() + from.y()) / 2), 0.0f);
    const double lenD = d.length();
    if (lenD < kTiny) {
        return QQuaternion();
    }
    const double lenM = m.length();
    const QVector3D tilt = QVector3D(-d.y(), d.x(), 0.0f).normalized();
    const QVector3D twistAxis =
        lenM < kTiny ? QVector3D(0, 0, 1) : QVector3D::crossProduct(m, d).normalized();
    const double angle = 360.0 * lenD;
    // Rounding can push |c| past 1; the square root must stay real.
    const double c = std::clamp(double(QVector3D::dotProduct(d.normalized(), m.normalized())), -1.0, 1.0);
    const double ramp = std::clamp((lenM - 0.1) * 2.67, 0.0, 1.0);
    const double twist = std::sqrt(1.0 - c * c) * ramp;
    const QQuaternion q = QQuaternion::fromAxisAndAngle(twistAxis, float(angle * twist)) +
                          QQuaternion::fromAxisAndAngle(tilt, float(angle * (1.0 - twist)));
    // Opposite rotations about the two axes could cancel out; keep the view rather than divide by zero.
    return q.length() < kTiny ? QQuaternion() : q.normalized();
}

void orbit(ViewPose& pose, const QPointF& from, const QPointF& to) {
    const QQuaternion step = orbitStep(from, to);
    const QVector3D viewOffset = pose.rotation.rotatedVector(pose.eye - pose.target);
    pose.rotation = (step * pose.rotation).normalized();
    pose.eye = pose.target + pose.rotation.conjugated().rotatedVector(viewOffset);
}

void pan(ViewPose& pose, const QPointF& from, const QPointF& to, float fieldOfView) {
    if (!finite(from) || !finite(to)) {
        return;
    }
    const double k = (pose.eye - pose.target).length() * std::tan(fieldOfView * kPi / 360.0);
    const QVector3D v(float(-2 * (to.x() - from.x()) * k), float(2 * (to.y() - from.y()) * k), 0.0f);
    const QVector3D shift = pose.rotation.conjugated().rotatedVector(v);
    pose.eye += shift;
    pose.target += shift;
}

double wheelFactor(double angleDelta) {
    if (!std::isfinite(angleDelta)) {
        return 1.0;
    }
    return std::exp(std::clamp(angleDelta * 0.125 / 120.0, -2.0, 2.0));
}

void zoom(ViewPose& pose, double factor) {
    const QVector3D offset = (pose.eye - pose.target) * float(factor);
    const float distance = offset.length();
    // A float distance cannot shrink to nothing or grow without bound and still give a usable projection.
    if (!std::isfinite(distance) || distance < 1e-6f || distance > 1e12f) {
        return;
    }
    pose.eye = pose.target + offset;
}

float defaultDistance(float fieldOfView) {
    return float(2.0 / std::tan(fieldOfView * kPi / 360.0));
}

CameraFit fitCamera(const float* xyz, size_t count, size_t strideFloats, float fieldOfView) {
    Eigen::Vector3d sum = Eigen::Vector3d::Zero();
    size_t nbFinite = 0;
    const auto at = [&](size_t i) { return xyz + i * strideFloats; };
    for (size_t i = 0; i < count; ++i) {
        const float* p = at(i);
        if (std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2])) {
            sum += Eigen::Vector3d(p[0], p[1], p[2]);
            ++nbFinite;
        }
    }
    CameraFit fit{QVector3D(), defaultDistance(fieldOfView)};
    if (nbFinite < 2) {
        return fit;
    }
    const Eigen::Vector3d mean = sum / double(nbFinite);
    fit.target = QVector3D(float(mean.x()), float(mean.y()), float(mean.z()));
    Eigen::Matrix3d cov = Eigen::Matrix3d::Zero();
    for (size_t i = 0; i < count; ++i) {
        const float* p = at(i);
        if (std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2])) {
            const Eigen::Vector3d d = Eigen::Vector3d(p[0], p[1], p[2]) - mean;
            cov.noalias() += d * d.transpose();
        }
    }
    cov /= double(nbFinite - 1);
    const double sigma = Eigen::JacobiSVD<Eigen::Matrix3d>(cov).singularValues()(0);
    const float distance = float(2.0 * std::sqrt(sigma) / std::tan(fieldOfView * kPi / 360.0));
    // One point repeated has no spread: a camera on its target would see nothing.
    if (std::isfinite(distance) && distance > 1e-6f) {
        fit.distance = distance;
    }
    return fit;
}

std::vector<size_t> sampleCaptures(size_t count) {
    std::vector<size_t> indices(count);
    std::iota(indices.begin(), indices.end(), size_t{0});
    if (count > 32) {
        std::mt19937_64 rng(count);
        std::shuffle(indices.begin(), indices.end(), rng);
        indices.resize(32);
    }
    return indices;
}

std::optional<float> captureScale(const std::vector<QVector3D>& centres) {
    if (centres.size() < 2) {
        return std::nullopt;
    }
    const std::vector<size_t> sample = sampleCaptures(centres.size());
    double total = 0;
    for (size_t s : sample) {
        double nearest = std::numeric_limits<double>::infinity();
        for (size_t j = 0; j < centres.size(); ++j) {
            if (j != s) {
                nearest = std::min(nearest, double((centres[j] - centres[s]).length()));
            }
        }
        total += nearest;
    }
    const double scale = 2.0 * total / double(sample.size());
    if (!std::isfinite(scale) || !(scale > 0)) {
        return std::nullopt;
    }
    return float(scale);
}

std::optional<size_t> pickIndex(const QPointF& normalized, int width, int height) {
    if (!finite(normalized)) {
        return std::nullopt;
    }
    const double column = std::round(normalized.x() * height + width / 2.0);
    const double row = std::round(height - (normalized.y() * height + height / 2.0));
    if (column < 0 || row < 0 || column >= width || row >= height) {
        return std::nullopt;
    }
    return size_t(row) * size_t(width) + size_t(column);
}

QMatrix4x4 projectionView(const ViewPose& pose, float fieldOfView, float aspect) {
    const float distance = (pose.eye - pose.target).length();
    QMatrix4x4 m;
    m.perspective(fieldOfView, aspect, distance / 64.0f, distance * 64.0f);
    m.rotate(pose.rotation);
    m.translate(-pose.eye);
    return m;
}

}  // namespace viewer
