#include "project/SfmCfgBuild.h"

#include <cmath>
#include <limits>

#include <GeographicLib/LocalCartesian.hpp>
#include <QString>

#include "project/DashAssert.h"
#include "project/ProjectRules.h"
#include "vexkit/FileType.h"

namespace {

constexpr const char* kRolling = "Rolling1DLoc";

}  // namespace

std::array<float, 3> gpsCovarianceDiagonal(const ImgMetaData::GPS& g, bool hasBaro) {
    using Source = ImgMetaData::GPS::Source;
    if (g.rtkStd) {
        DASH_ASSERT_TEXT(g.source == Source::kXMP, "g.source == ImgMetaData::GPS::kXMP");
        const auto& [hgt, lat, lon] = *g.rtkStd;
        return {lat * lat, lon * lon, hgt * hgt};
    }
    if (g.source == Source::kXMP) {
        return {9.f, 9.f, 0.25f};
    }
    DASH_ASSERT_TEXT(g.source == Source::kExif, "g.source == ImgMetaData::GPS::kExif");
    // 30.92 m is about one arc second of latitude; a second of longitude shrinks with the latitude.
    const float east = static_cast<float>(30.92 * std::cos(g.latitude / 180.0 * M_PI));
    return {956.0464f, east * east, hasBaro ? 0.25f : 20.25f};
}

SfmCfg::Location locationPrior(const ImgMetaData& meta, const GeographicLib::LocalCartesian& frame) {
    const ImgMetaData::GPS& g = *meta.gps;
    double east = 0, north = 0, up = 0;
    frame.Forward(g.latitude, g.longitude, g.altitude, east, north, up);
    SfmCfg::Location loc;
    loc.cartesian = {north, east, -up};
    const auto diag = gpsCovarianceDiagonal(g, meta.hasBaro);
    std::array<std::array<float, 3>, 3> cov{};
    for (int i = 0; i < 3; ++i) {
        cov[i][i] = diag[i];
    }
    loc.covariance = cov;
    loc.delta = std::numeric_limits<float>::infinity();
    return loc;
}

std::array<float, 3> motionPrior(const ImgMetaData& meta) {
    const float pitch = meta.gimbalAttitude ? meta.gimbalAttitude->pitch : 90.f;
    const float theta = static_cast<float>(pitch / 180.f * M_PI);
    return {0.f, 1e-8f * std::sin(theta), 1e-8f * std::cos(theta)};
}

std::unique_ptr<SfmCfg> buildSfmCfg(ProjectRef project, bool forService) {
    auto cfg = std::make_unique<SfmCfg>();
    if (!project.tiePoints.empty()) {
        cfg->tiePoints = project.tiePoints;
    }
    const auto& settings = project.settings;
    const bool useGps = forService && settings && settings->useGps.value_or(false);
    const bool rolling = forService && settings && settings->shutterType == kRolling;
    if (useGps) {
        if (auto mean = meanGpsPosition(project.groups)) {
            project.origin = mean;
        }
    }
    std::optional<GeographicLib::LocalCartesian> frame;
    if (useGps && project.origin) {
        frame.emplace(project.origin->latitude, project.origin->longitude, project.origin->altitude,
                      GeographicLib::Geocentric::WGS84());
    }

    for (const auto& group : project.groups) {
        if (group->images.empty()) {
            continue;
        }
        const auto idxCam = static_cast<uint32_t>(cfg->cameras.size());
        cfg->cameras.push_back(cameraOf(*group));
        for (const auto& image : group->images) {
            SfmCfg::Image entry;
            const bool located = useGps && image->meta.gps;
            if (located || rolling) {
                if (!cfg->poses) {
                    cfg->poses.emplace();
                }
                entry.idxPose = static_cast<uint32_t>(cfg->poses->size());
                SfmCfg::Pose& pose = cfg->poses->emplace_back();
                if (located) {
                    DASH_ASSERT(frame);
                    pose.location = locationPrior(image->meta, *frame);
                }
                if (rolling) {
                    DASH_ASSERT_TEXT(settings && settings->shutterType == kRolling,
                                     "mSfmSettings->shutterType == \"Rolling1DLoc\"");
                    pose.velocity = motionPrior(image->meta);
                }
            }
            entry.key = FileKey(encodeHex(image->md5));
            entry.format = static_cast<int32_t>(fileTypeOf(getFileExtension(image->file)));
            entry.idxCam = idxCam;
            entry.name = QString::fromLocal8Bit(image->file.c_str()).toStdString();
            // Observations of imported tie points go back out with them; without them the tie points
            // would be saved as locations nothing refers to.
            if (!image->tiePointMeasurements.empty()) {
                entry.tiePointMeasurements = image->tiePointMeasurements;
            }
            cfg->images.push_back(std::move(entry));
        }
    }

    if (settings) {
        cfg->settings = settings;
    } else if (forService) {
        cfg->settings = defaultSettings(project.groups);
    }
    return cfg;
}
