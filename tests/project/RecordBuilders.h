#pragma once
// Image and group records built directly, for the rules that need no image file.
#include <memory>
#include <string>

#include "project/Image.h"

namespace kxtest {

inline std::unique_ptr<Image> makeImage(uint32_t width, uint32_t height, std::string file = "photo.jpg") {
    auto image = std::make_unique<Image>();
    image->file = std::move(file);
    image->meta.width = width;
    image->meta.height = height;
    image->meta.center = std::array<float, 2>{width * 0.5f, height * 0.5f};
    return image;
}

inline ImgMetaData::GPS gpsAt(double latitude, double longitude, double altitude,
                              ImgMetaData::GPS::Source source = ImgMetaData::GPS::Source::kExif) {
    return {source, latitude, longitude, altitude, std::nullopt, std::nullopt};
}

inline std::unique_ptr<Image> makeGpsImage(const ImgMetaData::GPS& gps) {
    auto image = makeImage(4000, 3000);
    image->meta.gps = gps;
    return image;
}

// A group with the given optics marker in fx (so that groups can be told apart) and the images moved in.
template <typename... Imgs>
std::unique_ptr<ImgGrp> makeGroup(float fx, Imgs... images) {
    auto group = std::make_unique<ImgGrp>();
    group->width = 4000;
    group->height = 3000;
    group->fx = fx;
    group->fy = fx;
    group->cx = 2000;
    group->cy = 1500;
    (group->images.push_back(std::move(images)), ...);
    return group;
}

}  // namespace kxtest
