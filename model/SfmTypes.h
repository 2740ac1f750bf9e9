#pragma once
// General structure-from-motion records shared by the sparse model and its consumers.
#include <array>
#include <cstdint>

namespace kxsfm {

template <typename T>
struct Vec2 {
    T x{}, y{};
    bool operator==(const Vec2& o) const { return x == o.x && y == o.y; }
    bool operator!=(const Vec2& o) const { return !(*this == o); }
};

template <typename T>
struct Vec3 {
    T x{}, y{}, z{};
    bool operator==(const Vec3& o) const { return x == o.x && y == o.y && z == o.z; }
    bool operator!=(const Vec3& o) const { return !(*this == o); }
};

// Unit quaternion that rotates world coordinates into the camera frame.
struct Rotation {
    float w{1}, x{}, y{}, z{};
    bool operator==(const Rotation& o) const { return w == o.w && x == o.x && y == o.y && z == o.z; }
    bool operator!=(const Rotation& o) const { return !(*this == o); }
};

struct Pose {
    Rotation rotation;
    Vec3<float> centre;  // centre of projection in world coordinates
    Vec3<float> extra;   // carried through, not used by the client
    bool operator==(const Pose& o) const {
        return rotation == o.rotation && centre == o.centre && extra == o.extra;
    }
    bool operator!=(const Pose& o) const { return !(*this == o); }
};

// Pinhole camera in pixel units; the principal point is measured from the image's top-left corner.
struct RealCamera {
    Vec2<float> focal;
    Vec2<float> principal;
    std::array<float, 5> extra{};  // carried through, not used by the client
    bool operator==(const RealCamera& o) const {
        return focal == o.focal && principal == o.principal && extra == o.extra;
    }
    bool operator!=(const RealCamera& o) const { return !(*this == o); }
};

struct Color {
    uint8_t r{}, g{}, b{};
    bool operator==(const Color& o) const { return r == o.r && g == o.g && b == o.b; }
    bool operator!=(const Color& o) const { return !(*this == o); }
};

}  // namespace kxsfm
