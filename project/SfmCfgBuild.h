#pragma once
// Turns the image project into the configuration of a structure-from-motion run.
#include <array>
#include <memory>
#include <optional>

#include "config/SfmCfg.h"
#include "project/Image.h"

namespace GeographicLib {
class LocalCartesian;
}

// The project as the configuration builder reads it. `origin` is the centre of the local frame; the
// builder replaces it by the mean GPS position when the location priors are used.
struct ProjectRef {
    const ImgGrps& groups;
    const TiePoints& tiePoints;
    std::optional<SfmCfg::GpsCoords>& origin;
    const std::optional<SfmCfg::Settings>& settings;
};

// With `forService`, the configuration also carries the GPS location priors (when the settings ask for
// GPS), rolling-shutter motion priors and complete settings; otherwise only what the user defined. Tie
// points and each image's tie point measurements (which only an import brings) are carried as they are.
// Throws std::runtime_error("unknown extension") for an image whose extension is no file type.
std::unique_ptr<SfmCfg> buildSfmCfg(ProjectRef project, bool forService);

// The diagonal of the position covariance (north, east, down) in m² for a GPS record.
std::array<float, 3> gpsCovarianceDiagonal(const ImgMetaData::GPS& gps, bool hasBaro);

// The position prior of an image with GPS, in the north-east-down frame of `frame`.
SfmCfg::Location locationPrior(const ImgMetaData& meta, const GeographicLib::LocalCartesian& frame);

// The rolling-shutter motion prior: a tiny velocity along the camera's pitch (90 degrees without gimbal
// data).
std::array<float, 3> motionPrior(const ImgMetaData& meta);
