#pragma once
// What the viewer draws, in the layouts its GL buffers use; no GL needed to build or check them.
#include <array>
#include <cstdint>
#include <vector>

#include <QQuaternion>
#include <QString>
#include <QVector3D>

namespace viewer {

// One vertex of the point buffer, 16 bytes.
struct ScenePoint {
    float x, y, z;
    uint8_t r, g, b;
    uint8_t highlight;  // 0 or 1
};
static_assert(sizeof(ScenePoint) == 16, "the point shader reads 16-byte vertices");

// One camera as drawn: its pose and the image rectangle at depth s in the camera frame.
struct SceneCapture {
    QQuaternion rotation;  // world to camera, unit length
    QVector3D centre;      // world
    float depth = 0;       // s
    float left = 0;        // cx * s / fx
    float top = 0;         // cy * s / fy
    float width = 0;       // w * s / fx
    float height = 0;      // h * s / fy
    QString imagePath;
};

// The frustum's seven vertices in world coordinates: centre of projection, principal point, the four image
// corners at pixels (0, 0), (w, 0), (0, h), (w, h), and the middle of the edge x = w.
std::array<QVector3D, 7> frustumVertices(const SceneCapture& capture, float scale);

// A model ready for the viewer: points, captures, and the point indices each capture observed.
struct SceneModel {
    std::vector<ScenePoint> points;
    std::vector<SceneCapture> captures;
    std::vector<std::vector<uint32_t>> capturePoints;
};

}  // namespace viewer
