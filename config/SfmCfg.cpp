#include "config/SfmCfg.h"

#include <tuple>

// std::tie compares with each field's own ==, so a NaN anywhere makes two records unequal.

bool SfmCfg::GpsCoords::operator==(const GpsCoords& o) const {
    return std::tie(latitude, longitude, altitude) == std::tie(o.latitude, o.longitude, o.altitude);
}

bool SfmCfg::Camera::operator==(const Camera& o) const {
    return std::tie(width, height, fx, fy, cx, cy, k1, k2, p1, p2, k3) ==
           std::tie(o.width, o.height, o.fx, o.fy, o.cx, o.cy, o.k1, o.k2, o.p1, o.p2, o.k3);
}

bool SfmCfg::Location::operator==(const Location& o) const {
    return std::tie(cartesian, covariance, delta) == std::tie(o.cartesian, o.covariance, o.delta);
}

bool SfmCfg::Pose::operator==(const Pose& o) const {
    return std::tie(location, rotation, velocity) == std::tie(o.location, o.rotation, o.velocity);
}

bool SfmCfg::Image::TiePointMeasurement::operator==(const TiePointMeasurement& o) const {
    return std::tie(idxTiePt, x, y) == std::tie(o.idxTiePt, o.x, o.y);
}

bool SfmCfg::Image::operator==(const Image& o) const {
    return std::tie(key, format, idxCam, idxPose, url, path, name, tiePointMeasurements) ==
           std::tie(o.key, o.format, o.idxCam, o.idxPose, o.url, o.path, o.name, o.tiePointMeasurements);
}

bool SfmCfg::Settings::operator==(const Settings& o) const {
    return std::tie(opticModel, fixedOptics, shutterType, nbKPoints, siftUpsample, useGps, unordered) ==
           std::tie(o.opticModel, o.fixedOptics, o.shutterType, o.nbKPoints, o.siftUpsample, o.useGps,
                    o.unordered);
}

bool SfmCfg::operator==(const SfmCfg& o) const {
    return std::tie(origin, cameras, poses, tiePoints, images, settings) ==
           std::tie(o.origin, o.cameras, o.poses, o.tiePoints, o.images, o.settings);
}
