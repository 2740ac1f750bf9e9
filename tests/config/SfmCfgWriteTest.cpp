// Writing configurations: golden texts, compact optionals, non-finite numbers and round trips.
#include <cmath>
#include <functional>
#include <limits>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "config/SfmCfgJson.h"
#include "tests/config/CfgSamples.h"

namespace {

std::string textOf(const SfmCfg& cfg) {
    std::ostringstream os;
    writeSfmCfg(os, cfg);
    return os.str();
}

SfmCfg parse(const std::string& text) {
    std::istringstream is(text);
    return readSfmCfg(is);
}

TEST(SfmCfgWrite, GoldenTextsReadBackEqualAndWriteAgainTheSame) {
    SfmCfg noSettingField;
    noSettingField.settings = SfmCfg::Settings{};
    const struct {
        SfmCfg cfg;
        std::string text;
    } rows[] = {
        {kxtest::fullCfg(), kxtest::kFullCfgText},
        // Only cameras and images: what the client builds for a save.
        {kxtest::minimalCfg(), kxtest::kMinimalCfgText},
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

TEST(SfmCfgWrite, IdxPoseZeroIsWritten) {
    SfmCfg cfg = kxtest::minimalCfg();
    cfg.images[0].idxPose = 0;
    EXPECT_NE(textOf(cfg).find("            \"idxCam\": 0,\n            \"idxPose\": 0,\n"),
              std::string::npos);
}

TEST(SfmCfgWrite, NonFiniteNumbersUseBareTokensAndReadBack) {
    SfmCfg cfg;
    const double inf = std::numeric_limits<double>::infinity();
    cfg.tiePoints = std::vector<std::optional<SfmCfg::Location>>{
        SfmCfg::Location{{std::nan(""), -inf, 1e300}, std::nullopt, std::numeric_limits<float>::infinity()}};
    const std::string text = textOf(cfg);
    EXPECT_NE(
        text.find("\"cartesian\": [\n                    NaN,\n                    -Infinity,\n"
                  "                    1e300\n                ],\n                \"delta\": Infinity\n"),
        std::string::npos)
        << text;
    // Read back, each value writes its own token again.
    EXPECT_EQ(textOf(parse(text)), text);
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

TEST(SfmCfgWrite, EveryFloatSurvivesTheTrip) {
    // Full precision: any float or double, also the tiny and huge ones written in exponent form.
    SfmCfg cfg;
    cfg.tiePoints = std::vector<std::optional<SfmCfg::Location>>{SfmCfg::Location{
        {0.1, 1.0 / 3.0, -6.02214076e23}, std::nullopt, std::numeric_limits<float>::denorm_min()}};
    cfg.cameras = {{1, 1, std::numeric_limits<float>::max(), std::numeric_limits<float>::min(),
                    std::nextafter(1.0f, 2.0f), -0.0f, 1e-7f, 123456.789f, 3.14159265f, -2.5e-38f, 7.0f}};
    const SfmCfg back = parse(textOf(cfg));
    EXPECT_EQ(back, cfg);
    EXPECT_TRUE(std::signbit(back.cameras[0].cy));
}

TEST(SfmCfgEquality, ComparesEveryField) {
    const SfmCfg base = kxtest::fullCfg();
    const std::function<void(SfmCfg&)> changes[] = {
        [](SfmCfg& c) { c.images[1].tiePointMeasurements->push_back({}); },
        [](SfmCfg& c) { c.tiePoints->at(0) = SfmCfg::Location{}; },
        [](SfmCfg& c) { c.settings->unordered.reset(); },
        [](SfmCfg& c) { (*c.poses)[0].location->covariance->at(2)[1] = 1; },
        [](SfmCfg& c) { c.images[0].key.data[31] = 'f'; },
    };
    for (const auto& change : changes) {
        SfmCfg other = base;
        EXPECT_EQ(other, base);
        change(other);
        EXPECT_NE(other, base);
    }
    // NaN is unequal to itself, so is a record holding one.
    SfmCfg nan = base;
    nan.cameras[1].k3 = std::numeric_limits<float>::quiet_NaN();
    EXPECT_NE(nan, nan);
}

}  // namespace
