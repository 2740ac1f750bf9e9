#pragma once
// The complete input of one structure-from-motion run, as written to and read from "sfm.json".
// Each record serialises its fields in declaration order under their own names; config/SfmCfgJson.h
// writes and reads the JSON text. Equality compares field by field (NaN is unequal to itself).
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <cereal/cereal.hpp>

#include "vexkit/FileKey.h"

namespace sfmcfg {

// Records held in std::optional stand at namespace scope: a class nested in SfmCfg is not yet
// default-constructible (for clang) while SfmCfg is incomplete, and std::optional<T> then loses emplace().
struct GpsCoords {
    double latitude = 0;   // degrees
    double longitude = 0;  // degrees
    double altitude = 0;   // metres

    template <class Archive>
    void serialize(Archive& ar) {
        ar(CEREAL_NVP(latitude), CEREAL_NVP(longitude), CEREAL_NVP(altitude));
    }
    bool operator==(const GpsCoords& other) const;
    bool operator!=(const GpsCoords& other) const { return !(*this == other); }
};

struct Location {
    std::array<double, 3> cartesian{};  // north, east, down in metres from the origin
    std::optional<std::array<std::array<float, 3>, 3>> covariance;  // m², same axes
    std::optional<float> delta;

    template <class Archive>
    void serialize(Archive& ar) {
        ar(CEREAL_NVP(cartesian), CEREAL_NVP(covariance), CEREAL_NVP(delta));
    }
    bool operator==(const Location& other) const;
    bool operator!=(const Location& other) const { return !(*this == other); }
};

}  // namespace sfmcfg

struct SfmCfg {
    using GpsCoords = sfmcfg::GpsCoords;

    // One per image group: a pinhole camera with radial k1, k2, k3 and tangential p1, p2.
    struct Camera {
        uint32_t width = 0;
        uint32_t height = 0;
        float fx = 0, fy = 0;
        float cx = 0, cy = 0;
        float k1 = 0, k2 = 0;
        float p1 = 0, p2 = 0;
        float k3 = 0;

        template <class Archive>
        void serialize(Archive& ar) {
            ar(CEREAL_NVP(width), CEREAL_NVP(height), CEREAL_NVP(fx), CEREAL_NVP(fy), CEREAL_NVP(cx),
               CEREAL_NVP(cy), CEREAL_NVP(k1), CEREAL_NVP(k2), CEREAL_NVP(p1), CEREAL_NVP(p2),
               CEREAL_NVP(k3));
        }
        bool operator==(const Camera& other) const;
        bool operator!=(const Camera& other) const { return !(*this == other); }
    };

    using Location = sfmcfg::Location;

    struct Pose {
        std::optional<Location> location;
        std::optional<std::array<float, 3>> rotation;
        std::optional<std::array<float, 3>> velocity;

        template <class Archive>
        void serialize(Archive& ar) {
            ar(CEREAL_NVP(location), CEREAL_NVP(rotation), CEREAL_NVP(velocity));
        }
        bool operator==(const Pose& other) const;
        bool operator!=(const Pose& other) const { return !(*this == other); }
    };

    struct Image {
        struct TiePointMeasurement {
            uint32_t idxTiePt = 0;
            float x = 0, y = 0;

            template <class Archive>
            void serialize(Archive& ar) {
                ar(CEREAL_NVP(idxTiePt), CEREAL_NVP(x), CEREAL_NVP(y));
            }
            bool operator==(const TiePointMeasurement& other) const;
            bool operator!=(const TiePointMeasurement& other) const { return !(*this == other); }
        };
        FileKey key;
        int32_t format = 0;  // FileType of the image file
        uint32_t idxCam = 0;
        std::optional<uint32_t> idxPose;
        std::optional<std::string> url;
        std::optional<std::string> path;
        std::string name;  // full local path, UTF-8
        std::optional<std::vector<TiePointMeasurement>> tiePointMeasurements;

        template <class Archive>
        void serialize(Archive& ar) {
            ar(CEREAL_NVP(key), CEREAL_NVP(format), CEREAL_NVP(idxCam), CEREAL_NVP(idxPose), CEREAL_NVP(url),
               CEREAL_NVP(path), CEREAL_NVP(name), CEREAL_NVP(tiePointMeasurements));
        }
        bool operator==(const Image& other) const;
        bool operator!=(const Image& other) const { return !(*this == other); }
    };

    // Every field optional: an absent one leaves the choice to the service.
    struct Settings {
        std::optional<std::string> opticModel;
        std::optional<bool> fixedOptics;
        std::optional<std::string> shutterType;
        std::optional<uint32_t> nbKPoints;
        std::optional<bool> siftUpsample;
        std::optional<bool> useGps;
        std::optional<bool> unordered;

        template <class Archive>
        void serialize(Archive& ar) {
            ar(CEREAL_NVP(opticModel), CEREAL_NVP(fixedOptics), CEREAL_NVP(shutterType),
               CEREAL_NVP(nbKPoints), CEREAL_NVP(siftUpsample), CEREAL_NVP(useGps), CEREAL_NVP(unordered));
        }
        bool operator==(const Settings& other) const;
        bool operator!=(const Settings& other) const { return !(*this == other); }
    };

    std::optional<GpsCoords> origin;
    std::vector<Camera> cameras;
    std::optional<std::vector<Pose>> poses;
    std::optional<std::vector<std::optional<Location>>> tiePoints;
    std::vector<Image> images;
    std::optional<Settings> settings;

    // The members go directly into the enclosing (root) object.
    template <class Archive>
    void serialize(Archive& ar) {
        ar(CEREAL_NVP(origin), CEREAL_NVP(cameras), CEREAL_NVP(poses), CEREAL_NVP(tiePoints),
           CEREAL_NVP(images), CEREAL_NVP(settings));
    }
    bool operator==(const SfmCfg& other) const;
    bool operator!=(const SfmCfg& other) const { return !(*this == other); }
};
