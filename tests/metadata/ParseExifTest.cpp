#include <cmath>
#include <optional>
#include <string>
#include <variant>

#include <boost/lexical_cast.hpp>
#include <gtest/gtest.h>

#include "metadata/parseExif.h"
#include "tests/metadata/MetaDataPrint.h"
#include "tests/support/ImageFixtures.h"
#include "tests/support/TestSupport.h"
#include "vexkit/Assert.h"

namespace {

using kxtest::ImageTags;
using Source = ImgMetaData::GPS::Source;

// What a fixture's parse must end in: a record, an assertion (expression and printed line), or another error.
struct Assertion {
    std::string expression;
    int line;
};
struct LexicalError {};
struct MissingOptional {};
using Outcome = std::variant<std::monostate, Assertion, LexicalError, MissingOptional>;

class ParseExif : public testing::Test {
protected:
    // Parses a fresh JPEG with `tags`; fails the test unless the parse ends as `outcome` says.
    std::optional<ImgMetaData> parse(const ImageTags& tags, const Outcome& outcome = {}, uint32_t width = 96,
                                     uint32_t height = 64) {
        const auto path = mDir / ("f" + std::to_string(mNbFiles++) + ".jpg");
        kxtest::writeJpeg(path, width, height, tags);
        testing::internal::CaptureStdout();
        std::optional<ImgMetaData> meta;
        std::string error = "none";
        try {
            meta = parseExif(path.c_str());
        } catch (const vexkit::AssertionFailure& e) {
            error = std::string("assertion ") + e.what() + " at " + e.file + ":" + std::to_string(e.line);
        } catch (const boost::bad_lexical_cast& e) {
            error = "lexical";
        } catch (const std::bad_optional_access&) {
            error = "optional";
        }
        const std::string out = testing::internal::GetCapturedStdout();
        if (const auto* a = std::get_if<Assertion>(&outcome)) {
            EXPECT_EQ(error, "assertion " + a->expression + " at parseExif:" + std::to_string(a->line));
            EXPECT_NE(out.find("Error parseExif:" + std::to_string(a->line) + ": failed assertion " +
                               a->expression),
                      std::string::npos)
                << out;
        } else if (std::holds_alternative<LexicalError>(outcome)) {
            EXPECT_EQ(error, "lexical");
        } else if (std::holds_alternative<MissingOptional>(outcome)) {
            EXPECT_EQ(error, "optional");
        } else {
            EXPECT_EQ(error, "none");
        }
        return meta;
    }

    kxtest::TempDir mDir;
    int mNbFiles = 0;
};

struct DewarpCase {
    const char* text;
    Outcome outcome;
};

TEST_F(ParseExif, DewarpText) {
    const char* nine = "3700.1,3698.5,12.3,-8.2,-0.11,0.02,0.0003,-0.0001,-0.01";
    const DewarpCase cases[] = {
        {"2020-01-02;3700.1,3698.5,12.3,-8.2,-0.11,0.02,0.0003,-0.0001,-0.01", {}},
        {nine, {}},
        {"x;3700.1,3698.5,12.3,-8.2,-0.11,0.02,0.0003,-0.0001,-0.01,ignored,words", {}},
        {"3700.1,3698.5,12.3,", Assertion{"pos < dewarpData->size()", 152}},
        {"", Assertion{"pos < dewarpData->size()", 152}},
        {"3700.1,,3698.5,12.3,-8.2,-0.11,0.02,0.0003,-0.0001,-0.01", Assertion{"pos > beg", 155}},
        {"3700.1,3698.5,x12.3,-8.2,-0.11,0.02,0.0003,-0.0001,-0.01", LexicalError{}},
        {"3700.1,3698.5, 12.3,-8.2,-0.11,0.02,0.0003,-0.0001,-0.01", LexicalError{}},
        // Fewer than nine numbers are malformed whether or not a ',' ends them, never read again from the
        // start.
        {"1,2,3", Assertion{"pos < dewarpData->size()", 152}},
        {"2020-01-02;1,2,3", Assertion{"pos < dewarpData->size()", 152}},
    };
    for (const DewarpCase& c : cases) {
        SCOPED_TRACE(c.text);
        ImageTags tags;
        tags.setXmp("Xmp.drone-dji.DewarpData", c.text)
            .setXmp("Xmp.drone-dji.CalibratedOpticalCenterX", "2736")
            .setXmp("Xmp.drone-dji.CalibratedOpticalCenterY", "1824");
        const std::optional<ImgMetaData> meta = parse(tags, c.outcome);
        if (!meta) {
            continue;
        }
        ASSERT_TRUE(meta->focal && meta->center && meta->distortion);
        EXPECT_EQ(*meta->focal, (std::array<float, 2>{3700.1f, 3698.5f}));
        EXPECT_EQ(*meta->center, (std::array<float, 2>{2736.f + 12.3f, 1824.f + -8.2f}));
        EXPECT_NEAR((*meta->center)[0], 2748.3, 1e-3);
        EXPECT_NEAR((*meta->center)[1], 1815.8, 1e-3);
        EXPECT_EQ(*meta->distortion, (std::array<float, 5>{-0.11f, 0.02f, 0.0003f, -0.0001f, -0.01f}));
    }
}

TEST_F(ParseExif, FocalLengthRules) {
    // The dewarp focal lengths win over the calibrated one, which wins over the 35 mm equivalent.
    auto meta = parse(ImageTags()
                          .setXmp("Xmp.drone-dji.DewarpData", "1;10,11,0,0,0,0,0,0,0")
                          .setXmp("Xmp.drone-dji.CalibratedFocalLength", "20")
                          .focal35(24));
    EXPECT_EQ(meta->focal, (std::array<float, 2>{10, 11}));
    meta = parse(ImageTags().setXmp("Xmp.drone-dji.CalibratedFocalLength", "1913.333374").focal35(24));
    EXPECT_EQ(meta->focal, (std::array<float, 2>{1913.333374f, 1913.333374f}));
    EXPECT_FALSE(meta->distortion);
    meta = parse(ImageTags().focal35(0));
    EXPECT_FALSE(meta->focal);
    meta = parse(ImageTags().focal35(35), {}, 36 * 8, 24 * 8);  // a 3:2 frame 8 pixels per mm
    ASSERT_TRUE(meta->focal);
    EXPECT_NEAR((*meta->focal)[0], 35 * 8, 1e-3);
}

TEST_F(ParseExif, ThirtyFiveMillimetreRuleOnAFullSizeFrame) {
    const auto meta = parse(ImageTags().focal35(24), {}, 4000, 3000);
    ASSERT_TRUE(meta->focal);
    EXPECT_NEAR((*meta->focal)[0], 2773.50, 0.005);
    EXPECT_EQ((*meta->focal)[0], (*meta->focal)[1]);
    EXPECT_EQ(meta->center, (std::array<float, 2>{2000, 1500}));
    EXPECT_FALSE(meta->gps);
    EXPECT_FALSE(meta->hasBaro);
}

TEST_F(ParseExif, NoMetadataAtAll) {
    const auto meta = parse(ImageTags(), {}, 98, 64);
    ImgMetaData expected;
    expected.width = 98;
    expected.height = 64;
    expected.center = std::array<float, 2>{49, 32};
    EXPECT_EQ(*meta, expected);
}

struct ExifGpsCase {
    const char* name;
    ImageTags tags;
    std::optional<std::array<double, 3>> position;  // latitude, longitude, altitude
};

ImageTags exifGps(const char* latRef, const char* lat, const char* lonRef, const char* lon,
                  const char* altRef, const char* alt) {
    ImageTags tags;
    tags.setExif("Exif.GPSInfo.GPSLatitudeRef", latRef).setExif("Exif.GPSInfo.GPSLatitude", lat);
    tags.setExif("Exif.GPSInfo.GPSLongitudeRef", lonRef).setExif("Exif.GPSInfo.GPSLongitude", lon);
    tags.setExif("Exif.GPSInfo.GPSAltitudeRef", altRef).setExif("Exif.GPSInfo.GPSAltitude", alt);
    return tags;
}

TEST_F(ParseExif, ExifGps) {
    const char* lat = "47/1 30/1 36/1";
    const char* lon = "8/1 15/1 9/2";
    const double degLat = 47 + 30 / 60.0 + 36 / 3600.0;
    const double degLon = 8 + 15 / 60.0 + 4.5 / 3600.0;
    const ExifGpsCase cases[] = {
        {"north east", exifGps("N", lat, "E", lon, "0", "125/10"), {{degLat, degLon, 12.5}}},
        {"south west", exifGps("S", lat, "W", lon, "0", "125/10"), {{-degLat, -degLon, 12.5}}},
        {"below sea level", exifGps("N", lat, "E", lon, "1", "125/10"), {{degLat, degLon, -12.5}}},
        {"two components", exifGps("N", "47/1 30/1", "E", lon, "0", "1/1"), std::nullopt},
        {"unknown hemisphere", exifGps("X", lat, "E", lon, "0", "1/1"), std::nullopt},
        {"latitude ref on longitude", exifGps("N", lat, "N", lon, "0", "1/1"), std::nullopt},
        {"altitude ref 2", exifGps("N", lat, "E", lon, "2", "125/10"), std::nullopt},
        {"altitude ref 2, XMP altitude",
         exifGps("N", lat, "E", lon, "2", "125/10").setXmp("Xmp.drone-dji.AbsoluteAltitude", "+99.5"),
         {{degLat, degLon, 99.5}}},
    };
    for (const ExifGpsCase& c : cases) {
        SCOPED_TRACE(c.name);
        // The altitude-reference failure is only printed (checked below): the image still parses.
        const auto meta = parse(c.tags);
        ASSERT_TRUE(meta);
        if (!c.position) {
            EXPECT_FALSE(meta->gps) << describe(*meta);
            continue;
        }
        ASSERT_TRUE(meta->gps);
        EXPECT_EQ(meta->gps->source, Source::kExif);
        // Positions pass through single precision.
        EXPECT_EQ(meta->gps->latitude, double(float((*c.position)[0])));
        EXPECT_EQ(meta->gps->longitude, double(float((*c.position)[1])));
        EXPECT_EQ(meta->gps->altitude, double(float((*c.position)[2])));
        EXPECT_FALSE(meta->gps->rtkFlag);
        EXPECT_FALSE(meta->gps->rtkStd);
    }
    EXPECT_EQ(float(degLat), 47.5099983f);
}

TEST_F(ParseExif, ExifAltitudeReferenceTwoIsReportedButNotFatal) {
    const auto path = mDir / "ref2.jpg";
    kxtest::writeJpeg(path, 64, 64, exifGps("N", "1/1 0/1 0/1", "E", "1/1 0/1 0/1", "2", "5/1"));
    testing::internal::CaptureStdout();
    const ImgMetaData meta = parseExif(path.c_str());
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Error parseExif:310: failed assertion (ref == 0 || ref == 1)\n");
    EXPECT_FALSE(meta.gps);
}

TEST_F(ParseExif, XmpGps) {
    // GpsLatitude stands in for a missing Latitude; Latitude wins when both exist.
    auto meta = parse(ImageTags()
                          .setXmp("Xmp.drone-dji.GpsLatitude", "+52.9157605")
                          .setXmp("Xmp.drone-dji.Longitude", "-5.25")
                          .setXmp("Xmp.drone-dji.GpsLongitude", "+9")
                          .setXmp("Xmp.drone-dji.AbsoluteAltitude", "+22.32"));
    ASSERT_TRUE(meta->gps);
    EXPECT_EQ(meta->gps->source, Source::kXMP);
    EXPECT_EQ(meta->gps->latitude, double(52.9157605f));
    EXPECT_EQ(meta->gps->longitude, -5.25);
    EXPECT_EQ(meta->gps->altitude, double(22.32f));
    EXPECT_FALSE(meta->gps->rtkStd);

    // Without AbsoluteAltitude the XMP position is absent and the EXIF one is used.
    meta = parse(ImageTags()
                     .setXmp("Xmp.drone-dji.GpsLatitude", "+1")
                     .setXmp("Xmp.drone-dji.GpsLongitude", "+2")
                     .exifGps(10, 20, 30));
    ASSERT_TRUE(meta->gps);
    EXPECT_EQ(meta->gps->source, Source::kExif);
    EXPECT_EQ(meta->gps->latitude, 10);
    EXPECT_EQ(meta->gps->altitude, 30);
}

TEST_F(ParseExif, RtkAccuracy) {
    const ImageTags position = ImageTags().droneGps(-20.44058452, 57.31885385, 117.1);
    auto meta = parse(ImageTags(position)
                          .setXmp("Xmp.drone-dji.RtkStdLon", "0.01137")
                          .setXmp("Xmp.drone-dji.RtkStdLat", "0.00988")
                          .setXmp("Xmp.drone-dji.RtkStdHgt", "0.02404")
                          .setXmp("Xmp.drone-dji.RtkFlag", "50"));
    ASSERT_TRUE(meta->gps);
    EXPECT_EQ(meta->gps->rtkStd, (std::array<float, 3>{0.02404f, 0.00988f, 0.01137f}));
    EXPECT_EQ(meta->gps->rtkFlag, 50);

    // A flag without deviations is dropped; deviations without a flag keep no flag.
    meta = parse(ImageTags(position).setXmp("Xmp.drone-dji.RtkFlag", "16"));
    EXPECT_FALSE(meta->gps->rtkFlag);
    EXPECT_FALSE(meta->gps->rtkStd);
    meta = parse(ImageTags(position)
                     .setXmp("Xmp.drone-dji.RtkStdLon", "1")
                     .setXmp("Xmp.drone-dji.RtkStdLat", "2")
                     .setXmp("Xmp.drone-dji.RtkStdHgt", "3"));
    EXPECT_EQ(meta->gps->rtkStd, (std::array<float, 3>{3, 2, 1}));
    EXPECT_FALSE(meta->gps->rtkFlag);

    // A partial set fails the image, even without a position.
    parse(ImageTags(position).setXmp("Xmp.drone-dji.RtkStdHgt", "0.02"), MissingOptional{});
    parse(ImageTags().setXmp("Xmp.drone-dji.RtkStdLat", "0.02").setXmp("Xmp.drone-dji.RtkStdLon", "0.02"),
          MissingOptional{});
}

TEST_F(ParseExif, AttitudeSpeedAndAltitude) {
    const auto meta = parse(ImageTags()
                                .setXmp("Xmp.drone-dji.RelativeAltitude", "+24.90")
                                .setXmp("Xmp.drone-dji.FlightRollDegree", "-5.30")
                                .setXmp("Xmp.drone-dji.FlightPitchDegree", "-16.20")
                                .setXmp("Xmp.drone-dji.FlightYawDegree", "-36.90")
                                .setXmp("Xmp.drone-dji.GimbalReverse", "0")
                                .setXmp("Xmp.drone-dji.GimbalRollDegree", "+0.00")
                                .setXmp("Xmp.drone-dji.GimbalPitchDegree", "-70.00")
                                .setXmp("Xmp.drone-dji.GimbalYawDegree", "-46.80")
                                .setXmp("Xmp.drone-dji.FlightXSpeed", "3.6")
                                .setXmp("Xmp.drone-dji.FlightYSpeed", "0.1")
                                .setXmp("Xmp.drone-dji.FlightZSpeed", "-0.0"));
    EXPECT_EQ(meta->relativeAltitude, 24.90f);
    ASSERT_TRUE(meta->flightAttitude && meta->gimbalAttitude && meta->flightSpeed);
    EXPECT_EQ(*meta->flightAttitude, (ImgMetaData::Attitude{-5.3f, -16.2f, -36.9f}));
    EXPECT_EQ(*meta->gimbalAttitude, (ImgMetaData::Attitude{0, -70, -46.8f}));
    EXPECT_EQ(*meta->flightSpeed, (std::array<float, 3>{3.6f, 0.1f, 0}));

    // Two of three angles or speeds are no attitude or speed.
    const auto partial = parse(ImageTags()
                                   .setXmp("Xmp.drone-dji.FlightRollDegree", "1")
                                   .setXmp("Xmp.drone-dji.FlightPitchDegree", "2")
                                   .setXmp("Xmp.drone-dji.GimbalPitchDegree", "-90")
                                   .setXmp("Xmp.drone-dji.GimbalYawDegree", "4")
                                   .setXmp("Xmp.drone-dji.FlightXSpeed", "1")
                                   .setXmp("Xmp.drone-dji.FlightZSpeed", "1"));
    EXPECT_FALSE(partial->flightAttitude);
    EXPECT_FALSE(partial->gimbalAttitude);
    EXPECT_FALSE(partial->flightSpeed);
    EXPECT_FALSE(partial->relativeAltitude);
}

TEST_F(ParseExif, ValuesThatDoNotConvertFailTheImage) {
    parse(ImageTags().setXmp("Xmp.drone-dji.GimbalReverse", "1"),
          Assertion{"!gimbalReverse.has_value() || gimbalReverse.value() == 0", 184});
    parse(ImageTags().setXmp("Xmp.drone-dji.RelativeAltitude", "high"), Assertion{"val.ok()", 229});
    parse(ImageTags().setXmp("Xmp.drone-dji.GimbalReverse", "yes please"), Assertion{"val.ok()", 229});
}

struct MakeCase {
    const char* exifMake;
    const char* xmpMake;
    bool hasBaro;
};

TEST_F(ParseExif, BarometricMakeIsExactlyDji) {
    const MakeCase cases[] = {
        {"DJI", nullptr, true},      {"dji", nullptr, false},        {"DJI ", nullptr, false},
        {"DJI Inc", nullptr, false}, {nullptr, "DJI", true},         {"Hasselblad", "DJI", true},
        {"DJI", "Hasselblad", true}, {"Hasselblad", nullptr, false}, {nullptr, "Dji", false},
    };
    for (const MakeCase& c : cases) {
        ImageTags tags;
        if (c.exifMake) {
            tags.exifMake(c.exifMake);
        }
        if (c.xmpMake) {
            tags.xmpMake(c.xmpMake);
        }
        const auto meta = parse(tags);
        EXPECT_EQ(meta->hasBaro, c.hasBaro)
            << (c.exifMake ? c.exifMake : "-") << " / " << (c.xmpMake ? c.xmpMake : "-");
    }
}

TEST_F(ParseExif, HeifAndAvifGiveTheSameRecordAsJpeg) {
    const ImageTags tags = ImageTags()
                               .exifMake("DJI")
                               .focal35(24)
                               .exifGps(47.51, -8.25, 12.5)
                               .setXmp("Xmp.drone-dji.DewarpData", "d;100,101,1,2,0.1,0.2,0.3,0.4,0.5")
                               .setXmp("Xmp.drone-dji.CalibratedOpticalCenterX", "60")
                               .setXmp("Xmp.drone-dji.CalibratedOpticalCenterY", "30")
                               .setXmp("Xmp.drone-dji.GimbalRollDegree", "1")
                               .setXmp("Xmp.drone-dji.GimbalPitchDegree", "2")
                               .setXmp("Xmp.drone-dji.GimbalYawDegree", "3");
    kxtest::writeJpeg(mDir / "same.jpg", 128, 64, tags);
    kxtest::HeifOptions prefixed;
    prefixed.exifHeaderPrefix = true;
    kxtest::writeHeif(mDir / "same.heic", 128, 64, tags, prefixed);
    kxtest::writeHeif(mDir / "same.avif", 128, 64, tags);
    const ImgMetaData jpeg = parseExif((mDir / "same.jpg").c_str());
    ASSERT_TRUE(jpeg.gps && jpeg.focal && jpeg.distortion && jpeg.gimbalAttitude) << describe(jpeg);
    EXPECT_EQ(jpeg.center, (std::array<float, 2>{61, 32}));
    EXPECT_EQ(parseExif((mDir / "same.heic").c_str()), jpeg);
    EXPECT_EQ(parseExif((mDir / "same.avif").c_str()), jpeg);
}

}  // namespace
