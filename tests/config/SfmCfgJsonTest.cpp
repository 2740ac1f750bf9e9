// Configuration texts: golden texts written and read back, compact optionals, member order, limits of
// the number types, non-finite numbers, the JSON form of keys, and every read failure with its text.
#include <cmath>
#include <functional>
#include <limits>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "config/JsonIo.h"
#include "tests/config/CfgSamples.h"
#include "tests/config/Malformed.h"

namespace {

using namespace kxtest;

TEST(SfmCfgWrite, GoldenTextsReadBackEqualAndWriteAgainTheSame) {
    SfmCfg noSettingField;
    noSettingField.settings = SfmCfg::Settings{};
    const struct {
        SfmCfg cfg;
        std::string text;
    } rows[] = {
        {fullCfg(), kFullCfgText},
        // Only cameras and images: what the client builds for a save.
        {minimalCfg(), kMinimalCfgText},
        // The required lists stay when empty; settings with no field is an empty object.
        {SfmCfg{}, "{\n    \"cameras\": [],\n    \"images\": []\n}"},
        {noSettingField, "{\n    \"cameras\": [],\n    \"images\": [],\n    \"settings\": {}\n}"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(textOf(row.cfg), row.text);
        const SfmCfg back = parse(row.text);
        EXPECT_EQ(back, row.cfg) << row.text;
        EXPECT_EQ(textOf(back), row.text);
    }
}

TEST(SfmCfgWrite, NonFiniteAndExtremeNumbersSurviveTheTrip) {
    // Full precision: any float or double, also the tiny and huge ones written in exponent form.
    SfmCfg cfg;
    const double inf = std::numeric_limits<double>::infinity();
    cfg.tiePoints = std::vector<std::optional<SfmCfg::Location>>{
        SfmCfg::Location{{std::nan(""), -inf, 1e300}, std::nullopt, std::numeric_limits<float>::denorm_min()},
        SfmCfg::Location{{0.1, 1.0 / 3.0, -6.02214076e23}, std::nullopt, std::nullopt}};
    cfg.cameras = {{1, 1, std::numeric_limits<float>::max(), std::numeric_limits<float>::min(),
                    std::nextafter(1.0f, 2.0f), -0.0f, 1e-7f, 123456.789f, 3.14159265f, -2.5e-38f, 7.0f}};
    const std::string text = textOf(cfg);
    EXPECT_NE(
        text.find("[\n                    NaN,\n                    -Infinity,\n                    1e300\n"),
        std::string::npos)
        << text;
    const SfmCfg back = parse(text);
    EXPECT_TRUE(std::signbit(back.cameras[0].cy));
    EXPECT_EQ(textOf(back), text);  // NaN compares unequal: compare the texts
    cfg.tiePoints->erase(cfg.tiePoints->begin());
    EXPECT_EQ(parse(textOf(cfg)), cfg);
}

TEST(SfmCfgWrite, ControlCharactersAreEscapedAndReadBack) {
    SfmCfg cfg;
    cfg.images.resize(1);
    cfg.images[0].name = "a\"b\\c\b\f\n\r\t\x01\x1f\x7f/";
    EXPECT_NE(textOf(cfg).find(R"("name": "a\"b\\c\b\f\n\r\t\u0001\u001F)"
                               "\x7f/\""),
              std::string::npos)
        << textOf(cfg);
    EXPECT_EQ(parse(textOf(cfg)), cfg);
}

TEST(SfmCfgEquality, ComparesEveryField) {
    const SfmCfg base = fullCfg();
    const std::function<void(SfmCfg&)> changes[] = {
        [](SfmCfg& c) { c.images[1].tiePointMeasurements->push_back({}); },
        [](SfmCfg& c) { c.tiePoints->at(0) = SfmCfg::Location{}; },
        [](SfmCfg& c) { c.settings->unordered.reset(); },
        [](SfmCfg& c) { (*c.poses)[0].location->covariance->at(2)[1] = 1; },
        [](SfmCfg& c) { c.cameras[1].k3 = std::numeric_limits<float>::quiet_NaN(); },
    };
    for (const auto& change : changes) {
        SfmCfg other = base;
        EXPECT_EQ(other, base);
        change(other);
        EXPECT_NE(other, base);
    }
}

// The minimal sample with one fragment replaced; the fragment must occur exactly once.
std::string edited(const std::string& from, const std::string& to) {
    std::string text = kMinimalCfgText;
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

// One row per way of failing: each error text, the number ranges that pin a field's type, and the paths
// through the optional and fixed-array readers of the archive.
TEST(SfmCfgRead, EveryFailureReportsItsExactText) {
    const std::string missing = "JSON Parsing failed - provided NVP (";
    const std::string assertion = "rapidjson internal assertion failure: ";
    const std::string exhausted =
        "JSONInputArchive internal error: null or empty iterator to object or array!";
    const std::string uintFlag = assertion + "data_.f.flags & kUintFlag";
    const struct {
        std::string text;
        std::string error;
    } rows[] = {
        {edited(",\n            \"name\": \"C:/photos/IMG_0001.avif\"", ""), missing + "name) not found"},
        {"[]", missing + "cameras) not found"},

        {edited(R"("width": 4000)", R"("width": -1)"), uintFlag},
        {edited(R"("width": 4000)", R"("width": 4294967296)"), uintFlag},
        {edited(R"("format": 1)", R"("format": 2147483648)"), assertion + "data_.f.flags & kIntFlag"},
        {edited(R"("fx": 2900.0)", R"("fx": "2900")"), assertion + "IsNumber()"},
        {edited(kKey, R"("key": 5)"), assertion + "IsString()"},
        {R"({"cameras": {}, "images": []})", assertion + "IsArray()"},
        {"5", assertion + "IsObject()"},
        {withSettings(R"({"fixedOptics": 1})"), assertion + "IsBool()"},
        {edited(R"("idxCam": 0)", R"("idxCam": 0, "idxPose": "1")"), uintFlag},
        {withTiePoint(R"({"cartesian": [1, 2, 3], "covariance": [[1, 0, 0], [0, 1, 0], "x"]})"),
         assertion + "IsObject()"},
        // Short fixed arrays, also nested ones.
        {withTiePoint(R"({"cartesian": [1.0, 2.0]})"), exhausted},
        {withTiePoint(R"({"cartesian": [1, 2, 3], "covariance": [[1, 0, 0], [0, 1], [0, 0, 1]]})"),
         exhausted},
        // Text that is not JSON names the parser's error and its offset.
        {R"({"cameras": [1 2]})",
         "JSON parse error at offset 15: missing a comma or ']' after an array element"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(archiveErrorOf([&] { parse(row.text); }), row.error) << row.text;
    }
}

TEST(SfmCfgRead, NumberLimitsAndIntegersForFloats) {
    const SfmCfg cfg = parse(R"({
        "cameras": [{"width": 4294967295, "height": 0, "fx": 2900, "fy": -0.0, "cx": -1, "cy": 1e2,
                     "k1": 0.1, "k2": -Infinity, "p1": 0, "p2": 1E-3, "k3": 18446744073709551615}],
        "images": [{"key": "e2fc714c4727ee9395f324cd2e7f331f", "format": -2147483648, "idxCam": 4294967295,
                    "idxPose": 4294967295, "name": ""}]})");
    EXPECT_EQ(cfg.cameras.at(0), (SfmCfg::Camera{4294967295u, 0, 2900.0f, 0.0f, -1.0f, 100.0f, 0.1f,
                                                 -std::numeric_limits<float>::infinity(), 0.0f, 0.001f,
                                                 18446744073709551615.0f}));
    EXPECT_TRUE(std::signbit(cfg.cameras[0].fy));
    EXPECT_EQ(cfg.images.at(0).format, std::numeric_limits<int32_t>::min());
    EXPECT_EQ(cfg.images.at(0).idxPose, 4294967295u);
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
              (std::vector<SfmCfg::Image>{{keyOf("e2fc714c4727ee9395f324cd2e7f331f"), 2, 0, std::nullopt,
                                           std::nullopt, std::nullopt, "n", std::nullopt}}));
}

TEST(SfmCfgRead, KeysTakeTheirFirst32Characters) {
    const SfmCfg longKey = parse(edited(kKey, R"("key": "0123456789abcdef0123456789abcdef01234567")"));
    EXPECT_EQ(longKey.images.at(0).key.str(), "0123456789abcdef0123456789abcdef");
    // A short key keeps its zero characters through another write and read.
    const SfmCfg shortKey = parse(edited(kKey, R"("key": "abc")"));
    EXPECT_EQ(shortKey.images.at(0).key.str(), std::string("abc") + std::string(29, '\0'));
    EXPECT_EQ(parse(textOf(shortKey)), shortKey);
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
    std::istringstream is(std::string("ignored") + kMinimalCfgText);
    is.seekg(7);
    EXPECT_EQ(readSfmCfg(is), minimalCfg());
}

}  // namespace
