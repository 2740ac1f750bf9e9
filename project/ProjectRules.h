#pragma once
// The rules the dashboard applies to the project, as plain functions over its groups and images.
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "config/SfmCfg.h"
#include "project/Image.h"
#include "project/Optics.h"

using Images = std::vector<std::unique_ptr<Image>>;

// Same pixel size and the same recorded optics (presence and exact values; a NaN never matches).
bool sameOptics(const ImgMetaData& a, const ImgMetaData& b);

// The mean latitude, longitude and altitude over the images that have a GPS position; empty when none has.
std::optional<SfmCfg::GpsCoords> meanGpsPosition(const Images& images);
std::optional<SfmCfg::GpsCoords> meanGpsPosition(const ImgGrps& groups);

// The mean pixel count of all images is below 1024 x 768; false without images.
bool smallImages(const ImgGrps& groups);
// Whether the first GPS-tagged image, in group order, has its position from XMP (drone) data.
bool hasHighResGps(const ImgGrps& groups);
// Every group holds exactly one image (also true without groups).
bool isDiscrete(const ImgGrps& groups);
// Settings with every field present, derived from the images.
SfmCfg::Settings defaultSettings(const ImgGrps& groups);

// A group's optics as a camera of the configuration, and back (a new group without images).
SfmCfg::Camera cameraOf(const ImgGrp& group);
std::unique_ptr<ImgGrp> groupOf(const SfmCfg::Camera& cam);

// New groups for photographs of one optical system (sameOptics): one group of all images with tied optics,
// else one group per image. Each takes its pixel size from the first image and its optics from `info`.
// The images are moved into the groups in order.
ImgGrps makeGroups(Images images, const OpticsInfo& info);

// The loading progress after file `index` of `count`, in percent, truncated.
int32_t loadingPercent(unsigned index, unsigned long long count);
