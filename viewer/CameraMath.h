#pragma once
// The viewer's camera: orbit, pan, zoom, the fit to a model and picking coordinates, as plain functions
// that need no GL context.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include <QPointF>
#include <QQuaternion>
#include <QVector3D>

namespace viewer {

// World-to-view rotation, camera position and orbit centre. The camera looks along the view's -z axis.
struct ViewPose {
    QQuaternion rotation{0.0f, 1.0f, 0.0f, 0.0f};  // a half turn about x: y up, looking along +z
    QVector3D eye{0.0f, -3.5f, -10.0f};
    QVector3D target;
};

constexpr float kDefaultFieldOfView = 45.0f;

// A widget pixel to the normalised frame: origin at the centre, y down, one unit per widget height.
// Empty when the widget has no height.
std::optional<QPointF> normalizedPos(const QPointF& pixel, double width, double height);

// The trackball step between two normalised positions, with a twist about the viewing axis near the
// edges; the identity for a move shorter than 1e-10. Never NaN for finite input.
QQuaternion orbitStep(const QPointF& from, const QPointF& to);
// Applies the orbit step in view space; the eye keeps its distance and view-space offset to the target.
void orbit(ViewPose& pose, const QPointF& from, const QPointF& to);
// Shifts eye and target so that a point at the target's depth follows the cursor.
void pan(ViewPose& pose, const QPointF& from, const QPointF& to, float fieldOfView);
// exp(delta * 0.125 / 120) for a wheel delta in eighths of a degree, clamped to [1/e², e²] so that no event
// throws the eye to infinity or onto the target.
double wheelFactor(double angleDelta);
// Moves the eye along its line to the target by `factor`.
void zoom(ViewPose& pose, double factor);

// Distance from the target at which a unit spread fills the view: 2 / tan(fov / 2).
float defaultDistance(float fieldOfView);

// Target and eye distance fitted to a cloud: the mean of the finite points, and a distance at which
// two standard deviations of the main spread fill half the view height. Fewer than two finite points,
// or no spread at all, give the origin or the mean at the default distance.
struct CameraFit {
    QVector3D target;
    float distance = 0;
};
// `xyz` points at the first of `count` records `strideFloats` floats apart, each starting with x, y, z.
CameraFit fitCamera(const float* xyz, size_t count, size_t strideFloats, float fieldOfView);

// The captures sampled for the frustum scale: all up to 32, otherwise the first 32 of a shuffle seeded
// with the count (the same choice for the same count).
std::vector<size_t> sampleCaptures(size_t count);
// Twice the mean distance from each sampled capture to its nearest other capture; empty with fewer than
// two captures or when the result is not a positive finite number.
std::optional<float> captureScale(const std::vector<QVector3D>& centres);

// The id-buffer element under a normalised position in a W x H device buffer (row 0 at the bottom);
// empty when the rounded pixel falls outside the buffer.
std::optional<size_t> pickIndex(const QPointF& normalized, int width, int height);

// The combined projection and view matrix.
QMatrix4x4 projectionView(const ViewPose& pose, float fieldOfView, float aspect);

}  // namespace viewer
