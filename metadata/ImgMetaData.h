#pragma once
// What one image file tells about itself: pixel size, optics, position, attitude and speed.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

struct ImgMetaData {
    struct GPS {
        enum class Source : uint32_t { kExif = 0, kXMP = 1 };
        Source source = Source::kExif;
        double latitude = 0;                         // degrees, north positive
        double longitude = 0;                        // degrees, east positive
        double altitude = 0;                         // metres
        std::optional<int32_t> rtkFlag;              // only from XMP
        std::optional<std::array<float, 3>> rtkStd;  // height, north, east in metres; only from XMP
    };
    struct Attitude {
        float roll = 0, pitch = 0, yaw = 0;  // degrees
    };

    uint32_t width = 0;
    uint32_t height = 0;
    std::optional<std::array<float, 2>> focal;       // fx, fy in pixels
    std::optional<std::array<float, 2>> center;      // cx, cy in pixels
    std::optional<std::array<float, 5>> distortion;  // k1, k2, p1, p2, k3
    std::optional<GPS> gps;
    std::optional<float> relativeAltitude;
    std::optional<Attitude> flightAttitude;
    std::optional<Attitude> gimbalAttitude;
    std::optional<std::array<float, 3>> flightSpeed;
    bool hasBaro = false;  // camera make exactly "DJI": barometric altitude
    std::string camera;    // EXIF make and model ("DJI FC6310"); empty when neither is recorded
};
