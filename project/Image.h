#pragma once
// The in-memory project: one photograph with what was read from it, and a group of photographs shot
// with one optical system.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QIcon>

#include "config/SfmCfg.h"
#include "metadata/ImgMetaData.h"
#include "vexkit/Md5.h"

// Made only by loadImage; owned by exactly one group (or by the loader's result until it is placed).
struct Image {
    std::string file;  // the path as given to loadImage, in the local 8-bit encoding
    std::vector<SfmCfg::Image::TiePointMeasurement> tiePointMeasurements;
    ImgMetaData meta;
    vexkit::Md5Digest md5{};
    QIcon icon;  // fits kThumbnailSize
};

struct ImgGrp {
    uint32_t width = 0;
    uint32_t height = 0;
    float fx = 0, fy = 0, cx = 0, cy = 0;
    float k1 = 0, k2 = 0, p1 = 0, p2 = 0, k3 = 0;
    std::vector<std::unique_ptr<Image>> images;  // in the order they were added
};

using ImgGrps = std::vector<std::unique_ptr<ImgGrp>>;
using TiePoints = std::vector<std::optional<SfmCfg::Location>>;
