#pragma once
// Writing and reading configuration texts, and the configurations shared by the tests with their texts
// written out by hand from the format's rules (members in field order, four-space indentation, integral
// floats with ".0", a float widened to double before it is written, compact optionals, {"nullopt"/"data"}
// array elements).
#include <algorithm>
#include <array>
#include <limits>
#include <sstream>
#include <string>

#include "config/SfmCfgJson.h"

namespace kxtest {

inline std::string textOf(const SfmCfg& cfg) {
    std::ostringstream os;
    writeSfmCfg(os, cfg);
    return os.str();
}

inline SfmCfg parse(const std::string& text) {
    std::istringstream is(text);
    return readSfmCfg(is);
}

// The text without its layout (blanks inside strings go too).
inline std::string withoutBlanks(std::string text) {
    text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\n'; }),
               text.end());
    return text;
}

inline FileKey keyOf(const std::string& hex) {
    FileKey key;
    std::copy_n(hex.begin(), std::min(hex.size(), key.data.size()), key.data.begin());
    return key;
}

// Every member set, a pose with no member, a tie point list whose first element is empty.
inline SfmCfg fullCfg() {
    using Measurements = std::vector<SfmCfg::Image::TiePointMeasurement>;
    SfmCfg cfg;
    cfg.origin = SfmCfg::GpsCoords{47.3977419, 8.5455938, 488.25};
    cfg.cameras = {
        {5472, 3648, 2900.0f, 2900.5f, 2736.25f, 1824.0f, 0.1f, -0.25f, 0.0009765625f, -0.5f, 0.125f}};
    const SfmCfg::Location prior{{12.5, -3.75, 0.001},
                                 std::array<std::array<float, 3>, 3>{{{9, 0, 0}, {0, 9, 0}, {0, 0, 0.25f}}},
                                 std::numeric_limits<float>::infinity()};
    cfg.poses = std::vector<SfmCfg::Pose>{
        {prior, std::array<float, 3>{0.5f, -0.5f, 1.0f}, std::array<float, 3>{0.0f, 1.0f, -2.0f}}, {}};
    cfg.tiePoints = std::vector<std::optional<SfmCfg::Location>>{
        std::nullopt, SfmCfg::Location{{1.0, 2.0, 3.0}, std::nullopt, std::nullopt}};
    cfg.images = {{keyOf("900150983cd24fb0d6963f7d28e17f72"), 0, 0, 0u, "http://127.0.0.1/files/a",
                   "inputs/DJI_0001.JPG", u8"/data/Flug \u00dcber/DJI_0001.JPG",
                   Measurements{{1, 100.5f, 200.25f}}}};
    cfg.settings = SfmCfg::Settings{"F1C2D5", true, "Rolling1DLoc", 30000u, false, true, false};
    return cfg;
}

// The full sample without its layout: the golden test compares it blank for blank aside; the minimal one
// below, the empty settings and the number test pin the layout.
inline const char* const kFullCfgText = R"({
"origin": {"latitude": 47.3977419, "longitude": 8.5455938, "altitude": 488.25},
"cameras": [{"width": 5472, "height": 3648, "fx": 2900.0, "fy": 2900.5, "cx": 2736.25, "cy": 1824.0,
    "k1": 0.10000000149011612, "k2": -0.25, "p1": 0.0009765625, "p2": -0.5, "k3": 0.125}],
"poses": [{"location": {"cartesian": [12.5, -3.75, 0.001],
    "covariance": [[9.0, 0.0, 0.0], [0.0, 9.0, 0.0], [0.0, 0.0, 0.25]], "delta": Infinity},
    "rotation": [0.5, -0.5, 1.0], "velocity": [0.0, 1.0, -2.0]}, {}],
"tiePoints": [{"nullopt": true}, {"nullopt": false, "data": {"cartesian": [1.0, 2.0, 3.0]}}],
"images": [{"key": "900150983cd24fb0d6963f7d28e17f72", "format": 0, "idxCam": 0, "idxPose": 0,
    "url": "http://127.0.0.1/files/a", "path": "inputs/DJI_0001.JPG", "name": "/data/Flug Über/DJI_0001.JPG",
    "tiePointMeasurements": [{"idxTiePt": 1, "x": 100.5, "y": 200.25}]}],
"settings": {"opticModel": "F1C2D5", "fixedOptics": true, "shutterType": "Rolling1DLoc", "nbKPoints": 30000,
    "siftUpsample": false, "useGps": true, "unordered": false}
})";

// An image without its optional members; the camera's members are all in the full sample.
inline SfmCfg minimalCfg() {
    SfmCfg cfg;
    cfg.images = {{keyOf("e2fc714c4727ee9395f324cd2e7f331f"), 1, 0, std::nullopt, std::nullopt, std::nullopt,
                   "C:/photos/IMG_0001.avif", std::nullopt}};
    return cfg;
}

inline const char* const kMinimalCfgText = R"({
    "cameras": [],
    "images": [
        {
            "key": "e2fc714c4727ee9395f324cd2e7f331f",
            "format": 1,
            "idxCam": 0,
            "name": "C:/photos/IMG_0001.avif"
        }
    ]
})";

}  // namespace kxtest
