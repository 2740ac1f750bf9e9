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
#include "tests/config/ErrorText.h"

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

std::string withPose(const std::string& pose) {
    return R"({"cameras": [], "poses": [)" + pose + R"(], "images": []})";
}

const std::string kName = R"("name": "C:/photos/IMG_0001.avif")";
const std::string kCameras = R"("cameras": [)";
const std::string kImages = R"("images": [)";

TEST(SfmCfgRead, EveryFailureReportsItsExactText) {
    const std::string missing = "JSON Parsing failed - provided NVP (";
    const std::string assertion = "rapidjson internal assertion failure: ";
    const std::string exhausted =
        "JSONInputArchive internal error: null or empty iterator to object or array!";
    const std::string uintFlag = assertion + "data_.f.flags & kUintFlag";
    const std::string intFlag = assertion + "data_.f.flags & kIntFlag";
    const struct {
        const char* what;
        std::string text;
        std::string error;
    } rows[] = {
        {"no name", edited(",\n            " + kName, ""), missing + "name) not found"},
        {"no key", edited(R"("key": "e2fc714c4727ee9395f324cd2e7f331f",)", ""), missing + "key) not found"},
        {"no width", edited(R"("width": 4000,)", ""), missing + "width) not found"},
        {"no cameras", edited(kCameras, R"("kameras": [)"), missing + "cameras) not found"},
        {"no images", edited(kImages, R"("imagez": [)"), missing + "images) not found"},
        {"root array", "[]", missing + "cameras) not found"},
        {"empty root", "{}", missing + "cameras) not found"},
        {"no cartesian", withTiePoints(R"({"nullopt": false, "data": {"delta": 1.0}})"),
         missing + "cartesian) not found"},
        {"no nullopt", withTiePoints("{}"), missing + "nullopt) not found"},
        {"no data", withTiePoints(R"({"nullopt": false})"), missing + "data) not found"},

        {"width -1", edited(R"("width": 4000)", R"("width": -1)"), uintFlag},
        {"width 1.5", edited(R"("width": 4000)", R"("width": 1.5)"), uintFlag},
        {"width 2^32", edited(R"("width": 4000)", R"("width": 4294967296)"), uintFlag},
        {"width text", edited(R"("width": 4000)", R"("width": "4000")"), uintFlag},
        {"idxCam bool", edited(R"("idxCam": 0)", R"("idxCam": true)"), uintFlag},
        {"format 2^31", edited(R"("format": 1)", R"("format": 2147483648)"), intFlag},
        {"format -2^31-1", edited(R"("format": 1)", R"("format": -2147483649)"), intFlag},
        {"format 1.0", edited(R"("format": 1)", R"("format": 1.0)"), intFlag},
        {"fx text", edited(R"("fx": 2900.0)", R"("fx": "2900")"), assertion + "IsNumber()"},
        {"fx null", edited(R"("fx": 2900.0)", R"("fx": null)"), assertion + "IsNumber()"},
        {"name number", edited(kName, R"("name": 5)"), assertion + "IsString()"},
        {"key number", edited(R"("key": "e2fc714c4727ee9395f324cd2e7f331f")", R"("key": 5)"),
         assertion + "IsString()"},
        {"cameras object", R"({"cameras": {}, "images": []})", assertion + "IsArray()"},
        {"cameras number", R"({"cameras": 5, "images": []})", assertion + "IsObject()"},
        {"image number", R"({"cameras": [], "images": [5]})", assertion + "IsObject()"},
        {"root number", "5", assertion + "IsObject()"},
        {"root string", R"("cameras")", assertion + "IsObject()"},
        {"settings number", R"({"cameras": [], "images": [], "settings": 1})", assertion + "IsObject()"},
        {"fixedOptics 1", R"({"cameras": [], "images": [], "settings": {"fixedOptics": 1}})",
         assertion + "IsBool()"},
        {"nbKPoints -5", R"({"cameras": [], "images": [], "settings": {"nbKPoints": -5}})", uintFlag},
        {"idxPose text", edited(R"("idxCam": 0)", R"("idxCam": 0, "idxPose": "1")"), uintFlag},
        {"tie point bool", withTiePoints("true"), assertion + "IsObject()"},
        {"nullopt text", withTiePoints(R"({"nullopt": "no"})"), assertion + "IsBool()"},
        {"covariance row text",
         withTiePoints(
             R"({"nullopt": false, "data": {"cartesian": [1, 2, 3], "covariance": [[1, 0, 0], [0, 1, 0], "x"]}})"),
         assertion + "IsObject()"},

        {"cartesian of two", withTiePoints(R"({"nullopt": false, "data": {"cartesian": [1.0, 2.0]}})"),
         exhausted},
        {"cartesian empty", withTiePoints(R"({"nullopt": false, "data": {"cartesian": []}})"), exhausted},
        {"cartesian empty object", withTiePoints(R"({"nullopt": false, "data": {"cartesian": {}}})"),
         exhausted},
        {"covariance of two rows",
         withTiePoints(
             R"({"nullopt": false, "data": {"cartesian": [1, 2, 3], "covariance": [[1, 0, 0], [0, 1, 0]]}})"),
         exhausted},
        {"covariance short row",
         withTiePoints(
             R"({"nullopt": false, "data": {"cartesian": [1, 2, 3], "covariance": [[1, 0, 0], [0, 1], [0, 0, 1]]}})"),
         exhausted},
        {"rotation of two", withPose(R"({"rotation": [0.5, 0.5]})"), exhausted},
        {"velocity empty", withPose(R"({"velocity": []})"), exhausted},

        {"empty text", "", "JSON parse error at offset 0: the document is empty"},
        {"blank text", " \n\t ", "JSON parse error at offset 4: the document is empty"},
        {"two roots", "{} {}", "JSON parse error at offset 3: the root value is followed by other values"},
        {"missing comma", R"({"cameras": [1 2]})",
         "JSON parse error at offset 15: missing a comma or ']' after an array element"},
        {"missing colon", R"({"cameras" []})",
         "JSON parse error at offset 11: missing a colon after an object member name"},
        {"unclosed object", R"({"cameras": [])",
         "JSON parse error at offset 14: missing a comma or '}' after an object member"},
        {"unclosed string", R"({"cameras)",
         "JSON parse error at offset 9: missing a closing quotation mark in a string"},
        {"single quotes", "{'cameras': []}",
         "JSON parse error at offset 1: missing a name for an object member"},
        {"bad escape", R"({"ca\meras": []})",
         "JSON parse error at offset 4: invalid escape character in a string"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(kxtest::archiveErrorOf([&] { parse(row.text); }), row.error)
            << row.what << ": " << row.text;
    }
}

TEST(SfmCfgRead, ParseErrorsCarryTheirOffset) {
    try {
        parse(std::string(kxtest::kMinimalCfgText).substr(0, 100));
        FAIL() << "a truncated text was read";
    } catch (const kxjson::ParseError& e) {
        EXPECT_EQ(e.offset(), 100u);
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
    const SfmCfg::Camera& cam = cfg.cameras.at(0);
    EXPECT_EQ(cam.width, 4294967295u);
    EXPECT_EQ(cam.height, 0u);
    EXPECT_EQ(cam.fx, 2900.0f);
    EXPECT_TRUE(cam.fy == 0 && std::signbit(cam.fy));
    EXPECT_EQ(cam.cx, -1.0f);
    EXPECT_EQ(cam.cy, 100.0f);
    EXPECT_EQ(cam.k1, 0.1f);
    EXPECT_EQ(cam.k2, -std::numeric_limits<float>::infinity());
    EXPECT_TRUE(std::isnan(cam.p1));
    EXPECT_EQ(cam.p2, 0.001f);
    EXPECT_EQ(cam.k3, 18446744073709551615.0f);
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
    cfg = parse(R"({"cameras": [], "images": [], "settings": {"useGps": true}})");
    EXPECT_EQ(cfg.settings, (SfmCfg::Settings{{}, {}, {}, {}, {}, true, {}}));

    // Fields of a record follow the same rule.
    cfg = parse(
        R"({"cameras": [], "images": [], "settings": {"useGps": true, "unordered": true, "opticModel": "F1"}})");
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
    ASSERT_EQ(cfg.cameras.size(), 1u);
    EXPECT_EQ(cfg.cameras[0], (SfmCfg::Camera{10, 11, 8, 9, 6, 7, 1, 2, 4, 5, 3}));
    ASSERT_EQ(cfg.images.size(), 1u);
    EXPECT_EQ(cfg.images[0].name, "n");
    EXPECT_EQ(cfg.images[0].format, 2);
    EXPECT_EQ(cfg.images[0].key, kxtest::keyOf("e2fc714c4727ee9395f324cd2e7f331f"));
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
        const SfmCfg cfg =
            parse(edited(R"("key": "e2fc714c4727ee9395f324cd2e7f331f")", "\"key\": \"" + row.json + "\""));
        EXPECT_EQ(cfg.images.at(0).key.str(), row.expected) << row.json;
    }
    // A short key keeps its zero characters through another write and read.
    SfmCfg cfg = parse(edited(R"("key": "e2fc714c4727ee9395f324cd2e7f331f")", R"("key": "abc")"));
    std::ostringstream os;
    writeSfmCfg(os, cfg);
    EXPECT_EQ(parse(os.str()), cfg);
}

TEST(SfmCfgRead, TiePointElementsUseTheObjectForm) {
    const SfmCfg cfg = parse(withTiePoints(R"({"nullopt": true, "data": 5},
        {"nullopt": false, "data": {"cartesian": [1, 2, 3], "delta": Infinity}})"));
    ASSERT_TRUE(cfg.tiePoints.has_value());
    ASSERT_EQ(cfg.tiePoints->size(), 2u);
    EXPECT_FALSE(cfg.tiePoints->at(0).has_value());
    ASSERT_TRUE(cfg.tiePoints->at(1).has_value());
    EXPECT_EQ(cfg.tiePoints->at(1)->cartesian, (std::array<double, 3>{1, 2, 3}));
    EXPECT_FALSE(cfg.tiePoints->at(1)->covariance.has_value());
    EXPECT_EQ(cfg.tiePoints->at(1)->delta, std::numeric_limits<float>::infinity());
}

TEST(SfmCfgRead, ReadsFromTheStreamPosition) {
    std::istringstream is(std::string("ignored") + kxtest::kMinimalCfgText);
    is.seekg(7);
    EXPECT_EQ(readSfmCfg(is), kxtest::minimalCfg());
}

}  // namespace
