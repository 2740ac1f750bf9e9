// PLY clouds as the viewer draws them.
#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "model/PlyData.h"
#include "viewer/SceneBuild.h"

namespace viewer {

namespace {

// Low to high: blue, teal, yellow, red; each bright enough to stand out on the black background.
constexpr std::array<std::array<float, 3>, 4> kRamp = {
    {{40, 90, 255}, {0, 200, 170}, {240, 220, 30}, {255, 60, 40}}};

// The least and greatest finite value of each coordinate; min > max where there is none.
struct Bounds {
    std::array<double, 3> min{}, max{};
};

Bounds boundsOf(const std::vector<std::array<double, 3>>& positions) {
    Bounds b;
    b.min.fill(std::numeric_limits<double>::infinity());
    b.max.fill(-std::numeric_limits<double>::infinity());
    for (const auto& p : positions) {
        for (int k = 0; k < 3; ++k) {
            if (std::isfinite(p[k])) {
                b.min[k] = std::min(b.min[k], p[k]);
                b.max[k] = std::max(b.max[k], p[k]);
            }
        }
    }
    return b;
}

// The ramp's colour at `t` from 0 (lowest) to 1 (highest); outside 0..1 the ends, not finite the middle.
std::array<uint8_t, 3> rampColour(double t) {
    const double at = (std::isfinite(t) ? std::clamp(t, 0.0, 1.0) : 0.5) * (kRamp.size() - 1);
    const size_t i = std::min(static_cast<size_t>(at), kRamp.size() - 2);
    const double f = at - double(i);
    std::array<uint8_t, 3> c;
    for (int k = 0; k < 3; ++k) {
        c[k] = static_cast<uint8_t>(std::lround(kRamp[i][k] + f * (kRamp[i + 1][k] - kRamp[i][k])));
    }
    return c;
}

}  // namespace

SceneModel readPlyScene(const std::string& path) {
    SceneModel scene;
    {
        const kxply::PLYData ply(path);
        const auto& positions = ply.getVertexPositions();
        if (positions.empty()) {
            throw std::runtime_error("the PLY cloud has no points");
        }
        const auto* colours = ply.declaresVertexColors() ? &ply.getVertexColors() : nullptr;
        const Bounds b = boundsOf(positions);
        std::array<double, 3> centre{};
        for (int k = 0; k < 3; ++k) {
            centre[k] = b.min[k] <= b.max[k] ? (b.min[k] + b.max[k]) / 2 : 0;
        }
        // Ramped along z, as most writers put z up; a cloud flat in z along its longer other side.
        const auto extent = [&](int k) { return b.max[k] - b.min[k]; };  // negative where none is finite
        const int axis = extent(2) > 0 ? 2 : extent(0) >= extent(1) ? 0 : 1;
        const double length = extent(axis);
        scene.points.resize(positions.size());
        for (size_t i = 0; i < positions.size(); ++i) {
            const auto& p = positions[i];
            const std::array<uint8_t, 3> c =
                colours ? (*colours)[i] : rampColour(length > 0 ? (p[axis] - b.min[axis]) / length : 0.5);
            const auto shifted = [&](int k) { return float(p[k] - centre[k]); };
            scene.points[i] = {shifted(0), shifted(1), shifted(2), c[0], c[1], c[2], 0};
        }
    }
    return scene;
}

}  // namespace viewer
