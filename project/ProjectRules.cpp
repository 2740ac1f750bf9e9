#include "project/ProjectRules.h"

namespace {

template <typename T>
bool sameOptional(const std::optional<T>& a, const std::optional<T>& b) {
    if (a.has_value() != b.has_value()) {
        return false;
    }
    // Element-wise float comparison: NaN differs from everything, itself included.
    return !a || *a == *b;
}

class GpsMean {
public:
    void add(const Image& image) {
        if (const auto& gps = image.meta.gps) {
            mLatitude += gps->latitude;
            mLongitude += gps->longitude;
            mAltitude += gps->altitude;
            ++mCount;
        }
    }
    std::optional<SfmCfg::GpsCoords> mean() const {
        if (mCount == 0) {
            return std::nullopt;
        }
        const double n = static_cast<double>(mCount);
        return SfmCfg::GpsCoords{mLatitude / n, mLongitude / n, mAltitude / n};
    }

private:
    double mLatitude = 0, mLongitude = 0, mAltitude = 0;
    uint64_t mCount = 0;
};

}  // namespace

bool sameOptics(const ImgMetaData& a, const ImgMetaData& b) {
    return a.width == b.width && a.height == b.height && sameOptional(a.focal, b.focal) &&
           sameOptional(a.center, b.center) && sameOptional(a.distortion, b.distortion);
}

std::optional<SfmCfg::GpsCoords> meanGpsPosition(const Images& images) {
    GpsMean mean;
    for (const auto& image : images) {
        mean.add(*image);
    }
    return mean.mean();
}

std::optional<SfmCfg::GpsCoords> meanGpsPosition(const ImgGrps& groups) {
    GpsMean mean;
    for (const auto& group : groups) {
        for (const auto& image : group->images) {
            mean.add(*image);
        }
    }
    return mean.mean();
}

bool smallImages(const ImgGrps& groups) {
    uint64_t nbPixels = 0;
    uint64_t nbImages = 0;
    for (const auto& group : groups) {
        for (const auto& image : group->images) {
            nbPixels += static_cast<uint64_t>(image->meta.width) * image->meta.height;
            ++nbImages;
        }
    }
    return nbImages != 0 && nbPixels / nbImages < 0xC0000u;
}

bool hasHighResGps(const ImgGrps& groups) {
    for (const auto& group : groups) {
        for (const auto& image : group->images) {
            if (image->meta.gps) {
                return image->meta.gps->source == ImgMetaData::GPS::Source::kXMP;
            }
        }
    }
    return false;
}

bool isDiscrete(const ImgGrps& groups) {
    for (const auto& group : groups) {
        if (group->images.size() != 1) {
            return false;
        }
    }
    return true;
}

SfmCfg::Settings defaultSettings(const ImgGrps& groups) {
    SfmCfg::Settings settings;
    settings.opticModel = isDiscrete(groups) ? "F1D2" : "F1D5";
    settings.fixedOptics = false;
    settings.shutterType = "Global";
    settings.nbKPoints = 10000;
    settings.siftUpsample = smallImages(groups);
    settings.useGps = hasHighResGps(groups);
    settings.unordered = false;
    return settings;
}

SfmCfg::Camera cameraOf(const ImgGrp& group) {
    return {group.width, group.height, group.fx, group.fy, group.cx, group.cy,
            group.k1,    group.k2,     group.p1, group.p2, group.k3};
}

std::unique_ptr<ImgGrp> groupOf(const SfmCfg::Camera& cam) {
    auto group = std::make_unique<ImgGrp>();
    group->width = cam.width;
    group->height = cam.height;
    group->fx = cam.fx;
    group->fy = cam.fy;
    group->cx = cam.cx;
    group->cy = cam.cy;
    group->k1 = cam.k1;
    group->k2 = cam.k2;
    group->p1 = cam.p1;
    group->p2 = cam.p2;
    group->k3 = cam.k3;
    return group;
}

ImgGrps makeGroups(Images images, const OpticsInfo& info) {
    ImgGrps groups;
    if (images.empty()) {
        return groups;
    }
    const ImgMetaData& first = images.front()->meta;
    const SfmCfg::Camera cam{first.width, first.height, info.fx, info.fy, info.cx, info.cy,
                             info.k1,     info.k2,      info.p1, info.p2, info.k3};
    for (auto& image : images) {
        if (groups.empty() || !info.tiedOptics) {
            groups.push_back(groupOf(cam));
        }
        groups.back()->images.push_back(std::move(image));
    }
    return groups;
}

int32_t loadingPercent(unsigned index, unsigned long long count) {
    return static_cast<int32_t>(static_cast<float>(index + 1) / static_cast<float>(count) * 100.0f);
}
