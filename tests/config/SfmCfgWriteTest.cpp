// Writing configurations: golden texts, compact optionals, non-finite numbers and round trips.
#include <cmath>
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

TEST(SfmCfgWrite, FullConfigurationMatchesGolden) {
    EXPECT_EQ(textOf(kxtest::fullCfg()), kxtest::kFullCfgText);
}

TEST(SfmCfgWrite, MinimalConfigurationHasOnlyCamerasAndImages) {
    EXPECT_EQ(textOf(kxtest::minimalCfg()), kxtest::kMinimalCfgText);
}

TEST(SfmCfgWrite, EmptyConfigurationKeepsTheRequiredLists) {
    EXPECT_EQ(textOf(SfmCfg{}), "{\n    \"cameras\": [],\n    \"images\": []\n}");
}

TEST(SfmCfgWrite, IdxPoseZeroIsWrittenAndEmptyIsLeftOut) {
    SfmCfg cfg = kxtest::minimalCfg();
    EXPECT_EQ(textOf(cfg).find("idxPose"), std::string::npos);
    cfg.images[0].idxPose = 0;
    EXPECT_NE(textOf(cfg).find("            \"idxCam\": 0,\n            \"idxPose\": 0,\n"),
              std::string::npos);
}

TEST(SfmCfgWrite, SettingsWithNoFieldIsAnEmptyObject) {
    SfmCfg cfg;
    cfg.settings = SfmCfg::Settings{};
    EXPECT_EQ(textOf(cfg), "{\n    \"cameras\": [],\n    \"images\": [],\n    \"settings\": {}\n}");
}

TEST(SfmCfgWrite, NonFiniteNumbersUseBareTokens) {
    SfmCfg cfg;
    SfmCfg::Location loc;
    loc.cartesian = {std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::infinity(),
                     1e300};
    loc.delta = std::numeric_limits<float>::infinity();
    cfg.tiePoints = std::vector<std::optional<SfmCfg::Location>>{loc};
    const std::string text = textOf(cfg);
    EXPECT_NE(
        text.find("\"cartesian\": [\n                    NaN,\n                    -Infinity,\n"
                  "                    1e300\n                ],\n                \"delta\": Infinity\n"),
        std::string::npos)
        << text;

    const SfmCfg back = parse(text);
    const SfmCfg::Location& read = *back.tiePoints->at(0);
    EXPECT_TRUE(std::isnan(read.cartesian[0]));
    EXPECT_EQ(read.cartesian[1], -std::numeric_limits<double>::infinity());
    EXPECT_EQ(read.cartesian[2], 1e300);
    EXPECT_EQ(*read.delta, std::numeric_limits<float>::infinity());
    // NaN compares unequal, so the record differs from itself while its text does not.
    EXPECT_NE(back, cfg);
    EXPECT_EQ(textOf(back), text);
}

TEST(SfmCfgWrite, ControlCharactersAreEscaped) {
    SfmCfg cfg;
    SfmCfg::Image image;
    image.name = "a\"b\\c\b\f\n\r\t\x01\x1f/";
    cfg.images.push_back(image);
    EXPECT_NE(textOf(cfg).find(R"("name": "a\"b\\c\b\f\n\r\t\u0001\u001F/")"), std::string::npos)
        << textOf(cfg);
    EXPECT_EQ(parse(textOf(cfg)).images.at(0).name, image.name);
}

TEST(SfmCfgRoundTrip, WriteReadWriteGivesTheSameTextAndAnEqualRecord) {
    for (const SfmCfg& cfg : {kxtest::fullCfg(), kxtest::minimalCfg(), SfmCfg{}}) {
        const std::string text = textOf(cfg);
        const SfmCfg back = parse(text);
        EXPECT_EQ(back, cfg);
        EXPECT_EQ(textOf(back), text);
    }
}

TEST(SfmCfgRoundTrip, EveryFloatSurvivesTheTrip) {
    // Full precision: any float or double, also the tiny and huge ones written in exponent form.
    SfmCfg cfg;
    SfmCfg::Location loc;
    loc.cartesian = {0.1, 1.0 / 3.0, -6.02214076e23};
    loc.delta = std::numeric_limits<float>::denorm_min();
    cfg.tiePoints = std::vector<std::optional<SfmCfg::Location>>{loc};
    cfg.cameras.push_back({1, 1, std::numeric_limits<float>::max(), std::numeric_limits<float>::min(),
                           std::nextafter(1.0f, 2.0f), -0.0f, 1e-7f, 123456.789f, 3.14159265f, -2.5e-38f,
                           7.0f});
    const SfmCfg back = parse(textOf(cfg));
    EXPECT_EQ(back, cfg);
    EXPECT_TRUE(std::signbit(back.cameras[0].cy));
}

TEST(SfmCfgEquality, ComparesEveryField) {
    const SfmCfg base = kxtest::fullCfg();
    SfmCfg other = base;
    EXPECT_EQ(other, base);
    other.images[1].tiePointMeasurements->push_back({});
    EXPECT_NE(other, base);
    other = base;
    other.tiePoints->at(0) = SfmCfg::Location{};
    EXPECT_NE(other, base);
    other = base;
    other.settings->unordered.reset();
    EXPECT_NE(other, base);
    other = base;
    (*other.poses)[0].location->covariance->at(2)[1] = 1;
    EXPECT_NE(other, base);
    other = base;
    other.images[0].key.data[31] = 'f';
    EXPECT_NE(other, base);
    other = base;
    other.cameras[1].k3 = std::numeric_limits<float>::quiet_NaN();
    EXPECT_NE(other, other);
}

}  // namespace
