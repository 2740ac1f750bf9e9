#pragma once
// The complete input of one structure-from-motion run, as written to and read from "sfm.json".
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vexkit/FileKey.h"

struct SfmCfg {
    struct GpsCoords {
        double latitude = 0;   // degrees
        double longitude = 0;  // degrees
        double altitude = 0;   // metres
    };

    // One per image group: a pinhole camera with radial k1, k2, k3 and tangential p1, p2.
    struct Camera {
        uint32_t width = 0;
        uint32_t height = 0;
        float fx = 0, fy = 0;
        float cx = 0, cy = 0;
        float k1 = 0, k2 = 0;
        float p1 = 0, p2 = 0;
        float k3 = 0;
    };

    struct Location {
        std::array<double, 3> cartesian{};  // north, east, down in metres from the origin
        std::optional<std::array<std::array<float, 3>, 3>> covariance;  // m², same axes
        std::optional<float> delta;
    };

    struct Pose {
        std::optional<Location> location;
        std::optional<std::array<float, 3>> rotation;
        std::optional<std::array<float, 3>> velocity;
    };

    struct Image {
        struct TiePointMeasurement {
            uint32_t idxTiePt = 0;
            float x = 0, y = 0;
        };
        FileKey key;
        int32_t format = 0;  // FileType of the image file
        uint32_t idxCam = 0;
        std::optional<uint32_t> idxPose;
        std::optional<std::string> url;
        std::optional<std::string> path;
        std::string name;  // full local path, UTF-8
        std::optional<std::vector<TiePointMeasurement>> tiePointMeasurements;
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
    };

    std::optional<GpsCoords> origin;
    std::vector<Camera> cameras;
    std::optional<std::vector<Pose>> poses;
    std::optional<std::vector<std::optional<Location>>> tiePoints;
    std::vector<Image> images;
    std::optional<Settings> settings;
};
