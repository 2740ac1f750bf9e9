// Configuration texts: golden texts, number limits, key forms, read failures, refused numbers and nesting.
#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "config/JsonIo.h"
#include "tests/config/CfgSamples.h"

namespace {

using namespace kxtest;

std::string archiveErrorOf(const std::string& text) {
    try {
        parse(text);
        return "(read without error)";
    } catch (const cereal::Exception& e) {
        return e.what();
    }
}

TEST(SfmCfgWrite, GoldenTextsReadBackEqualAndWriteAgainTheSame) {
    SfmCfg noSettingField;
    noSettingField.settings = SfmCfg::Settings{};
    const struct {
        SfmCfg cfg;
        std::string text;
        bool laidOut = true;  // compared blank for blank
    } rows[] = {
        {fullCfg(), kFullCfgText, false},
        {minimalCfg(), kMinimalCfgText},
        // The required lists stay when empty; settings with no field is an empty object.
        {noSettingField, "{\n    \"cameras\": [],\n    \"images\": [],\n    \"settings\": {}\n}"},
    };
    for (const auto& row : rows) {
        const auto layout = [&](const std::string& text) { return row.laidOut ? text : withoutBlanks(text); };
        EXPECT_EQ(layout(textOf(row.cfg)), layout(row.text));
        const SfmCfg back = parse(row.text);
        EXPECT_EQ(back, row.cfg) << row.text;
        EXPECT_EQ(layout(textOf(back)), layout(row.text));
    }
}

TEST(SfmCfgWrite, NonFiniteAndExtremeNumbersSurviveTheTrip) {
    // Full precision: any float or double, also the tiny and huge ones written in exponent form and the
    // longest the writer makes (the fuzz target's round trip covers the others).
    SfmCfg cfg;
    cfg.origin = SfmCfg::GpsCoords{18446744073709551615.0, -1.7976931348623157e308, 4.9406564584124654e-324};
    const double inf = std::numeric_limits<double>::infinity();
    cfg.tiePoints = std::vector<std::optional<SfmCfg::Location>>{SfmCfg::Location{
        {std::nan(""), -inf, 1e300}, std::nullopt, std::numeric_limits<float>::denorm_min()}};
    cfg.cameras = {{1, 1, std::numeric_limits<float>::max(), 0, 0, -0.0f, 0, 0, 0, 0, 0}};
    const std::string text = textOf(cfg);
    EXPECT_NE(
        text.find("[\n                    NaN,\n                    -Infinity,\n                    1e300\n"),
        std::string::npos)
        << text;
    const SfmCfg back = parse(text);
    EXPECT_TRUE(std::signbit(back.cameras[0].cy));
    EXPECT_EQ(textOf(back), text);  // NaN compares unequal: compare the texts
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

const std::string kKey = R"("key": "e2fc714c4727ee9395f324cd2e7f331f")";

// One row per way of failing: the number ranges that pin a field's type, and the paths through the
// optional and fixed-array readers of the archive.
TEST(SfmCfgRead, EveryFailureReportsItsExactText) {
    const std::string assertion = "rapidjson internal assertion failure: ";
    const std::string uintFlag = assertion + "data_.f.flags & kUintFlag";
    const struct {
        std::string text;
        std::string error;
    } rows[] = {
        {edited(",\n            \"name\": \"C:/photos/IMG_0001.avif\"", ""),
         "JSON Parsing failed - provided NVP (name) not found"},
        {R"({"cameras": [{"width": -1}], "images": []})", uintFlag},
        {edited(R"("format": 1)", R"("format": 2147483648)"), assertion + "data_.f.flags & kIntFlag"},
        {R"({"cameras": [{"width": 1, "height": 1, "fx": "2900"}], "images": []})", assertion + "IsNumber()"},
        {edited(kKey, R"("key": 5)"), assertion + "IsString()"},
        {R"({"cameras": {}, "images": []})", assertion + "IsArray()"},
        {"5", assertion + "IsObject()"},
        {R"({"cameras": [], "images": [], "settings": {"fixedOptics": 1}})", assertion + "IsBool()"},
        {edited(R"("idxCam": 0)", R"("idxCam": 0, "idxPose": "1")"), uintFlag},
        // A short fixed array inside another.
        {withTiePoints(
             R"({"nullopt": false, "data": {"cartesian": [1, 2, 3], "covariance": [[1, 0, 0], [0, 1]]}})"),
         "JSONInputArchive internal error: null or empty iterator to object or array!"},
        {R"({"cameras": [1 2]})",
         "JSON parse error at offset 15: missing a comma or ']' after an array element"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(archiveErrorOf(row.text), row.error) << row.text;
    }
}

TEST(SfmCfgRead, OptionalMembersCountOnlyAtTheirPosition) {
    // "settings" before "images": read as absent, while the required "images" is found further on.
    SfmCfg cfg = parse(R"({"cameras": [], "settings": {"useGps": true}, "images": []})");
    EXPECT_FALSE(cfg.settings.has_value());
    // After the required "images" was found out of order, the position is the member after it.
    cfg = parse(R"({"images": [], "cameras": [], "settings": {"useGps": true}})");
    EXPECT_FALSE(cfg.settings.has_value());
    // An unknown member in front of an optional one hides it; required members are still found.
    cfg = parse(edited(R"("idxCam": 0)", R"("idxCam": 0, "comment": "x", "idxPose": 3)"));
    EXPECT_FALSE(cfg.images.at(0).idxPose.has_value());
    EXPECT_EQ(cfg.images.at(0).name, "C:/photos/IMG_0001.avif");
}

TEST(SfmCfgRead, KeysAndTiePointElementsUseTheirOwnForms) {
    // A key takes its first 32 characters (a short one's trip is in the protocol's golden texts).
    const SfmCfg longKey = parse(edited(kKey, R"("key": "0123456789abcdef0123456789abcdef01234567")"));
    EXPECT_EQ(longKey.images.at(0).key.str(), "0123456789abcdef0123456789abcdef");
    // "data" of an empty tie point is not read.
    const SfmCfg cfg = parse(withTiePoints(
        R"({"nullopt": true, "data": 5}, {"nullopt": false, "data": {"cartesian": [1, 2, 3], "delta": Infinity}})"));
    EXPECT_EQ(cfg.tiePoints,
              (std::vector<std::optional<SfmCfg::Location>>{
                  std::nullopt,
                  SfmCfg::Location{{1, 2, 3}, std::nullopt, std::numeric_limits<float>::infinity()}}));
}

// The parser misreads these (fuzzing found them); what the writer makes reads back in the trip above.
TEST(SfmCfgRead, NumbersTheParserMisreadsAreRefused) {
    const std::string origin = R"({"origin": {"latitude": )";
    for (const std::string& number :
         {"0." + std::string(23, '0'), std::string("0e-30"), std::string(59, '4') + "e308",
          std::string("1844674407370955161577"), std::string(19, '4') + std::string(190, '0') + "e279",
          "0." + std::string(30, '0') + "..01", std::string("8.00010404724444472e-336")}) {
        EXPECT_THROW(parse(origin + number + R"(, "longitude": 0, "altitude": 0}})"), kxjson::ParseError);
    }
}

TEST(SfmCfgRead, DeepNestingFailsWithoutExhaustingTheStack) {
    const std::size_t deep = 1000000;
    for (const std::string& text :
         {std::string(deep, '['), "{\"cameras\": " + std::string(deep, '[') + std::string(deep, ']') + "}"}) {
        EXPECT_THROW(parse(text), cereal::Exception);
    }
}

}  // namespace
