#pragma once
// The lens calibration that drone cameras record as the text "Xmp.drone-dji.DewarpData".
#include <array>

// Nine floats in the order of the text: fx, fy, principal point offsets, then distortion k1, k2, p1, p2, k3.
struct DewarpData {
    enum Index { kFx, kFy, kCxOffset, kCyOffset, kK1, kK2, kP1, kP2, kK3, kNbValues };
    std::array<float, kNbValues> values{};
};
