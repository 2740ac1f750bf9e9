#pragma once
// The sparse model records as cereal archives see them: the portable binary archive of these records is
// the payload of a ".ksm" file (model/KsmWriter.cpp writes it; the reader mirrors it by hand).
#include <cereal/archives/portable_binary.hpp>
#include <cereal/types/array.hpp>
#include <cereal/types/string.hpp>
#include <cereal/types/vector.hpp>

#include "model/KsmModel.h"

namespace kxsfm {
template <class A, class T>
void serialize(A& ar, Vec2<T>& v) {
    ar(v.x, v.y);
}
template <class A, class T>
void serialize(A& ar, Vec3<T>& v) {
    ar(v.x, v.y, v.z);
}
template <class A>
void serialize(A& ar, Rotation& r) {
    ar(r.w, r.x, r.y, r.z);
}
template <class A>
void serialize(A& ar, Pose& p) {
    ar(p.rotation, p.centre, p.extra);
}
template <class A>
void serialize(A& ar, RealCamera& c) {
    ar(c.focal, c.principal, c.extra);
}
template <class A>
void serialize(A& ar, Color& c) {
    ar(c.r, c.g, c.b);
}
}  // namespace kxsfm

namespace ksm {
template <class A>
void serialize(A& ar, Measurement& m) {
    ar(m.pointIdx, m.extra);
}
template <class A>
void serialize(A& ar, Capture& c) {
    ar(c.cameraIdx, c.poseIdx, c.measurements, c.imagePath, c.imageDigest);
}
template <class A>
void serialize(A& ar, Model<1u>& m) {
    ar(m.poses, m.cameras, m.cameraImageSizes, m.points, m.colors, m.captures);
}
}  // namespace ksm
