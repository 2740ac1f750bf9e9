// Reading configurations: member order, limits of the number types, the JSON form of keys, and every
// failure with its exact text.
#include <cmath>
#include <limits>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "config/JsonIo.h"
#include "config/SfmCfgJson.h"
#include "tests/config/CfgSamples.h"
#include "tests/config/Malformed.h"

namespace {

SfmCfg parse(const std::string& text) {
    std::istringstream is(text);
    return readSfmCfg(is);
}

// The minimal sample with one fragment replaced; the fragment must occur exactly once.
std::string edited(const std::string& from, const std::string& to) {
    std::string text = kxtest::kMinimalCfgText;
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    EXPECT_EQ(text.find(from, at + 1), std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

std::string withTiePoints(const std::string& elements) {
    return R"({"cameras": [], "tiePoints": [)" + elements + R"(], "images": []})";
}

// One filled tie point holding location.
std::string withTiePoint(const std::string& location) {
    return withTiePoints(R"({"nullopt": false, "data": )" + location + "}");
}

std::string withSettings(const std::string& settings) {
    return R"({"cameras": [], "images": [], "settings": )" + settings + "}";
}

const std::string kKey = R"("key": "e2fc714c4727ee9395f324cd2e7f331f")";

TEST(SfmCfgRead, EveryFailureReportsItsExactText) {
    const std::string missing = "JSON Parsing failed - provided NVP (";
    const std::string assertion = "rapidjson internal assertion failure: ";
    const std::string exhausted =
        "JSONInputArchive internal error: null or empty iterator to object or array!";
    const std::string uintFlag = assertion + "data_.f.flags & kUintFlag";
    const std::string intFlag = assertion + "data_.f.flags & kIntFlag";
    const std::string notJson = "JSON parse error at offset ";
    const std::string covariance = R"({"cartesian": [1, 2, 3], "covariance": [[1, 0, 0], [0, 1, 0])";
    const struct {
        std::string text;
        std::string error;
    } rows[] = {
        {edited(",\n            \"name\": \"C:/photos/IMG_0001.avif\"", ""), missing + "name) not found"},
        {edited(kKey + ",", ""), missing + "key) not found"},
        {edited(R"("images": [)", R"("imagez": [)"), missing + "images) not found"},
        {"[]", missing + "cameras) not found"},
        {"{}", missing + "cameras) not found"},
        {withTiePoint(R"({"delta": 1.0})"), missing + "cartesian) not found"},
        {withTiePoints("{}"), missing + "nullopt) not found"},
        {withTiePoints(R"({"nullopt": false})"), missing + "data) not found"},

        {edited(R"("width": 4000)", R"("width": -1)"), uintFlag},
        {edited(R"("width": 4000)", R"("width": 1.5)"), uintFlag},
        {edited(R"("width": 4000)", R"("width": 4294967296)"), uintFlag},
        {edited(R"("width": 4000)", R"("width": "4000")"), uintFlag},
        {edited(R"("format": 1)", R"("format": 2147483648)"), intFlag},
        {edited(R"("format": 1)", R"("format": 1.0)"), intFlag},
        {edited(R"("fx": 2900.0)", R"("fx": "2900")"), assertion + "IsNumber()"},
        {edited(kKey, R"("key": 5)"), assertion + "IsString()"},
        {R"({"cameras": {}, "images": []})", assertion + "IsArray()"},
        {R"({"cameras": 5, "images": []})", assertion + "IsObject()"},
        {"5", assertion + "IsObject()"},
        {withSettings("1"), assertion + "IsObject()"},
        {withSettings(R"({"fixedOptics": 1})"), assertion + "IsBool()"},
        {withSettings(R"({"nbKPoints": -5})"), uintFlag},
        {edited(R"("idxCam": 0)", R"("idxCam": 0, "idxPose": "1")"), uintFlag},
        {withTiePoints("true"), assertion + "IsObject()"},
        {withTiePoint(covariance + R"(, "x"]})"), assertion + "IsObject()"},

        {withTiePoint(R"({"cartesian": [1.0, 2.0]})"), exhausted},
        {withTiePoint(R"({"cartesian": {}})"), exhausted},
        {withTiePoint(covariance + "]}"), exhausted},
        {withTiePoint(R"({"cartesian": [1, 2, 3], "covariance": [[1, 0, 0], [0, 1], [0, 0, 1]]})"),
         exhausted},
        {R"({"cameras": [], "poses": [{"velocity": []}], "images": []})", exhausted},

        {"", notJson + "0: the document is empty"},
        {"{} {}", notJson + "3: the root value is followed by other values"},
        {R"({"cameras": [1 2]})", notJson + "15: missing a comma or ']' after an array element"},
        {R"({"cameras" []})", notJson + "11: missing a colon after an object member name"},
        {R"({"cameras": [])", notJson + "14: missing a comma or '}' after an object member"},
        {R"({"cameras)", notJson + "9: missing a closing quotation mark in a string"},
        {"{'cameras': []}", notJson + "1: missing a name for an object member"},
        {R"({"ca\meras": []})", notJson + "4: invalid escape character in a string"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(kxtest::archiveErrorOf([&] { parse(row.text); }), row.error) << row.text;
    }
}

TEST(SfmCfgRead, NumberLimitsAndIntegersForFloats) {
    const SfmCfg cfg = parse(R"({
        "cameras": [{"width": 4294967295, "height": 0, "fx": 2900, "fy": -0.0, "cx": -1, "cy": 1e2,
                     "k1": 0.1, "k2": -Infinity, "p1": NaN, "p2": 1E-3, "k3": 18446744073709551615}],
        "images": [{"key": "e2fc714c4727ee9395f324cd2e7f331f", "format": -2147483648, "idxCam": 4294967295,
                    "idxPose": 4294967295, "name": ""},
                   {"key": "e2fc714c4727ee9395f324cd2e7f331f", "format": 2147483647, "idxCam": 0, "name": ""}],
        "settings": {"opticModel": "F1", "fixedOptics": false, "shutterType": "Global", "nbKPoints": 4294967295}
    })");
    SfmCfg::Camera cam = cfg.cameras.at(0);
    EXPECT_TRUE(std::signbit(cam.fy) && std::isnan(cam.p1));
    cam.p1 = 0;
    EXPECT_EQ(cam, (SfmCfg::Camera{4294967295u, 0, 2900.0f, 0.0f, -1.0f, 100.0f, 0.1f,
                                   -std::numeric_limits<float>::infinity(), 0.0f, 0.001f,
                                   18446744073709551615.0f}));
    EXPECT_EQ(cfg.images.at(0).format, std::numeric_limits<int32_t>::min());
    EXPECT_EQ(cfg.images.at(0).idxCam, 4294967295u);
    EXPECT_EQ(cfg.images.at(0).idxPose, 4294967295u);
    EXPECT_EQ(cfg.images.at(1).format, std::numeric_limits<int32_t>::max());
    EXPECT_EQ(cfg.settings->nbKPoints, 4294967295u);
}

TEST(SfmCfgRead, OptionalMembersCountOnlyAtTheirPosition) {
    // "settings" before "images": read as absent, while the required "images" is found further on.
    SfmCfg cfg = parse(R"({"cameras": [], "settings": {"useGps": true}, "images": []})");
    EXPECT_FALSE(cfg.settings.has_value());

    // After the required "images" was found out of order, the position is the member after it.
    cfg = parse(R"({"images": [], "cameras": [], "settings": {"useGps": true}})");
    EXPECT_FALSE(cfg.settings.has_value());
    cfg = parse(withSettings(R"({"useGps": true})"));
    EXPECT_EQ(cfg.settings, (SfmCfg::Settings{{}, {}, {}, {}, {}, true, {}}));

    // Fields of a record follow the same rule.
    cfg = parse(withSettings(R"({"useGps": true, "unordered": true, "opticModel": "F1"})"));
    EXPECT_EQ(cfg.settings, (SfmCfg::Settings{{}, {}, {}, {}, {}, true, true}));

    // An unknown member in front of an optional one hides it; required members are still found.
    cfg = parse(edited(R"("idxCam": 0)", R"("idxCam": 0, "comment": "x", "idxPose": 3)"));
    EXPECT_FALSE(cfg.images.at(0).idxPose.has_value());
    cfg = parse(edited(R"("idxCam": 0)", R"("idxCam": 0, "idxPose": 3, "comment": "x")"));
    EXPECT_EQ(cfg.images.at(0).idxPose, 3u);
    EXPECT_EQ(cfg.images.at(0).name, "C:/photos/IMG_0001.avif");
}

TEST(SfmCfgRead, RequiredMembersAreFoundAnywhereInTheirObject) {
    // "cameras" after "images", and an image whose members come in reverse order.
    const SfmCfg cfg = parse(R"({"comment": 1, "images": [{"name": "n", "idxCam": 0, "format": 2,
        "key": "e2fc714c4727ee9395f324cd2e7f331f"}], "cameras": [{"k3": 3, "k2": 2, "k1": 1, "p2": 5, "p1": 4,
        "cy": 7, "cx": 6, "fy": 9, "fx": 8, "height": 11, "width": 10}]})");
    EXPECT_EQ(cfg.cameras, (std::vector<SfmCfg::Camera>{{10, 11, 8, 9, 6, 7, 1, 2, 4, 5, 3}}));
    EXPECT_EQ(cfg.images,
              (std::vector<SfmCfg::Image>{{kxtest::keyOf("e2fc714c4727ee9395f324cd2e7f331f"), 2, 0,
                                           std::nullopt, std::nullopt, std::nullopt, "n", std::nullopt}}));
}

TEST(SfmCfgRead, KeysTakeTheirFirst32Characters) {
    const struct {
        std::string json;
        std::string expected;  // the 32 characters of the key
    } rows[] = {
        {"abc", std::string("abc") + std::string(29, '\0')},
        {"", std::string(32, '\0')},
        {"0123456789abcdef0123456789abcdef", "0123456789abcdef0123456789abcdef"},
        {"0123456789abcdef0123456789abcdef01234567", "0123456789abcdef0123456789abcdef"},
    };
    for (const auto& row : rows) {
        const SfmCfg cfg = parse(edited(kKey, "\"key\": \"" + row.json + "\""));
        EXPECT_EQ(cfg.images.at(0).key.str(), row.expected) << row.json;
        // A short key keeps its zero characters through another write and read.
        std::ostringstream os;
        writeSfmCfg(os, cfg);
        EXPECT_EQ(parse(os.str()), cfg) << row.json;
    }
}

TEST(SfmCfgRead, TiePointElementsUseTheObjectForm) {
    // "data" of an empty element is not read.
    const SfmCfg cfg = parse(withTiePoints(
        R"({"nullopt": true, "data": 5}, {"nullopt": false, "data": {"cartesian": [1, 2, 3], "delta": Infinity}})"));
    EXPECT_EQ(cfg.tiePoints,
              (std::vector<std::optional<SfmCfg::Location>>{
                  std::nullopt,
                  SfmCfg::Location{{1, 2, 3}, std::nullopt, std::numeric_limits<float>::infinity()}}));
}

TEST(SfmCfgRead, ReadsFromTheStreamPosition) {
    std::istringstream is(std::string("ignored") + kxtest::kMinimalCfgText);
    is.seekg(7);
    EXPECT_EQ(readSfmCfg(is), kxtest::minimalCfg());
}

}  // namespace
