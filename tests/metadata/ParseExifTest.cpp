#include <optional>
#include <tuple>
#include <string>

#include <gtest/gtest.h>

#include "metadata/parseExif.h"
#include "tests/metadata/MetaDataPrint.h"
#include "tests/support/ImageFixtures.h"
#include "tests/support/TestSupport.h"

namespace {

using kxtest::ImageTags;
using Source = ImgMetaData::GPS::Source;
using Float2 = std::array<float, 2>;
using Float3 = std::array<float, 3>;

// `tags` with "drone-dji" XMP properties, given as name (without the prefix), value, name, value...
ImageTags dji(std::initializer_list<const char*> namesAndValues, ImageTags tags = {}) {
    for (auto it = namesAndValues.begin(); it != namesAndValues.end(); it += 2) {
        tags.setXmp(std::string("Xmp.drone-dji.") + it[0], it[1]);
    }
    return tags;
}

// A position without RTK accuracy.
ImgMetaData::GPS gps(Source source, double latitude, double longitude, double altitude) {
    return {source, latitude, longitude, altitude, std::nullopt, std::nullopt};
}

class ParseExif : public testing::Test {
protected:
    // Parses a fresh JPEG with `tags`; fails unless it ends in an exception with message `error` ("" for a
    // record). A failed assertion's message is its expression.
    ImgMetaData parse(const ImageTags& tags, const std::string& error = "") {
        const auto path = mDir / ("f" + std::to_string(mNbFiles++) + ".jpg");
        kxtest::writeJpeg(path, 96, 64, tags);
        testing::internal::CaptureStdout();
        ImgMetaData meta;
        std::string actual;
        try {
            meta = parseExif(path.c_str());
        } catch (const std::exception& e) {
            actual = e.what();
        }
        mPrinted = testing::internal::GetCapturedStdout();
        EXPECT_EQ(actual, error);
        return meta;
    }

    kxtest::TempDir mDir;
    int mNbFiles = 0;
    std::string mPrinted;  // standard output of the last parse
};

TEST_F(ParseExif, ValuesThatFailTheImage) {
    const char* tooShort = "pos < dewarpData->size()";
    const char* optional = "bad optional access";
    const std::pair<ImageTags, std::string> cases[] = {
        // Fewer than nine numbers are malformed whether or not a ',' ends them, never read again from the
        // start.
        {dji({"DewarpData", "3700.1,3698.5,12.3,"}), tooShort},
        {dji({"DewarpData", "2020-01-02;1,2,3"}), tooShort},
        {dji({"DewarpData", "3700.1,,3698.5,12.3,-8.2,-0.11,0.02,0.0003,-0.0001,-0.01"}), "pos > beg"},
        {dji({"DewarpData", "3700.1,3698.5, 12.3,-8.2,-0.11,0.02,0.0003,-0.0001,-0.01"}),
         "bad lexical cast: source type value could not be interpreted as target"},
        {dji({"GimbalReverse", "1"}), "!gimbalReverse.has_value() || gimbalReverse.value() == 0"},
        {dji({"RelativeAltitude", "high"}), "val.ok()"},
        // A partial set of RTK deviations, even without a position.
        {ImageTags().droneGps(1, 2, 3).setXmp("Xmp.drone-dji.RtkStdHgt", "0.02"), optional},
        {dji({"RtkStdLat", "0.02", "RtkStdLon", "0.02"}), optional},
    };
    for (const auto& [tags, error] : cases) {
        SCOPED_TRACE(tags.xmp.back().first + " = " + tags.xmp.back().second);
        parse(tags, error);
    }
}

TEST_F(ParseExif, DewarpTextAndFocalLengthRules) {
    // The real photographs show dewarp data with a date before ';' winning over the calibrated focal length,
    // and the 35 mm equivalent alone. Without the date, words after the nine numbers are ignored.
    const ImageTags calibrated = dji({"CalibratedFocalLength", "1913.333374"}, ImageTags().focal35(24));
    const ImgMetaData dewarp = parse(dji(
        {"DewarpData", "3700.1,3698.5,12.3,-8.2,-0.11,0.02,0.0003,-0.0001,-0.01,ignored,words"}, calibrated));
    EXPECT_EQ(dewarp.focal, (Float2{3700.1f, 3698.5f}));
    EXPECT_EQ(dewarp.distortion, (std::array<float, 5>{-0.11f, 0.02f, 0.0003f, -0.0001f, -0.01f}));
    // The calibrated focal length wins over the 35 mm equivalent; a zero 35 mm focal length gives none.
    const ImgMetaData meta = parse(calibrated);
    EXPECT_EQ(meta.focal, (Float2{1913.333374f, 1913.333374f}));
    EXPECT_FALSE(meta.distortion);
    EXPECT_FALSE(parse(ImageTags().focal35(0)).focal);
}

struct ExifGpsCase {
    ImageTags tags;
    std::optional<Float3> position;  // latitude, longitude, altitude: positions pass through single precision
    bool reported = false;
};

ImageTags exifGps(const char* latRef, const char* lat, const char* lonRef, const char* altRef) {
    ImageTags tags;
    tags.setExif("Exif.GPSInfo.GPSLatitudeRef", latRef).setExif("Exif.GPSInfo.GPSLatitude", lat);
    tags.setExif("Exif.GPSInfo.GPSLongitudeRef", lonRef).setExif("Exif.GPSInfo.GPSLongitude", "8/1 15/1 9/2");
    return tags.setExif("Exif.GPSInfo.GPSAltitudeRef", altRef).setExif("Exif.GPSInfo.GPSAltitude", "125/10");
}

TEST_F(ParseExif, ExifGps) {
    const char* lat = "47/1 30/1 36/1";
    const double degLat = 47 + 30 / 60.0 + 36 / 3600.0;
    const double degLon = 8 + 15 / 60.0 + 4.5 / 3600.0;
    const ExifGpsCase cases[] = {
        {exifGps("N", lat, "E", "0"), {{degLat, degLon, 12.5}}},
        {exifGps("S", lat, "W", "0"), {{-degLat, -degLon, 12.5}}},
        {exifGps("N", lat, "E", "1"), {{degLat, degLon, -12.5}}},
        {exifGps("N", "47/1 30/1", "E", "0"), std::nullopt},
        {exifGps("X", lat, "E", "0"), std::nullopt},
        {exifGps("N", lat, "N", "0"), std::nullopt},
        // Reference 2 is reported, not fatal: the image parses without the EXIF altitude.
        {exifGps("N", lat, "E", "2"), std::nullopt, true},
        {dji({"AbsoluteAltitude", "+99.5"}, exifGps("N", lat, "E", "2")), {{degLat, degLon, 99.5}}},
    };
    for (const ExifGpsCase& c : cases) {
        SCOPED_TRACE(&c - cases);
        const ImgMetaData meta = parse(c.tags);
        EXPECT_EQ(mPrinted.find("(ref == 0 || ref == 1)") != std::string::npos, c.reported) << mPrinted;
        if (!c.position) {
            EXPECT_FALSE(meta.gps) << describe(meta);
            continue;
        }
        const auto [lat, lon, alt] = *c.position;
        EXPECT_EQ(meta.gps, gps(Source::kExif, lat, lon, alt));
    }
}

TEST_F(ParseExif, XmpGps) {
    // GpsLatitude stands in for a missing Latitude; Latitude wins when both exist. RTK deviations are read
    // from the real photographs.
    const ImgMetaData meta = parse(dji({"GpsLatitude", "+52.9157605", "Longitude", "-5.25", "GpsLongitude",
                                        "+9", "AbsoluteAltitude", "+22.32"}));
    EXPECT_EQ(meta.gps, gps(Source::kXMP, 52.9157605f, -5.25, 22.32f));
    // Without AbsoluteAltitude the XMP position is absent and the EXIF one is used.
    EXPECT_EQ(parse(dji({"GpsLatitude", "+1", "GpsLongitude", "+2"}, ImageTags().exifGps(10, 20, 30))).gps,
              gps(Source::kExif, 10, 20, 30));
}

TEST_F(ParseExif, TwoOfThreeAnglesOrSpeedsAreNone) {
    // Complete sets are read from the real photographs.
    const ImgMetaData partial =
        parse(dji({"FlightRollDegree", "1", "FlightPitchDegree", "2", "GimbalPitchDegree", "-90",
                   "GimbalYawDegree", "4", "FlightXSpeed", "1", "FlightZSpeed", "1"}));
    EXPECT_FALSE(partial.flightAttitude || partial.gimbalAttitude || partial.flightSpeed ||
                 partial.relativeAltitude)
        << describe(partial);
}

TEST_F(ParseExif, BarometricMakeIsExactlyDji) {
    const std::pair<ImageTags, bool> cases[] = {
        {ImageTags().exifMake("DJI"), true},
        {ImageTags().exifMake("dji"), false},
        {ImageTags().exifMake("Hasselblad").xmpMake("DJI"), true},
        {ImageTags().exifMake("DJI").xmpMake("Hasselblad"), true},
        {ImageTags().xmpMake("Dji"), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse(c.first).hasBaro, c.second) << "row " << &c - cases;
    }
}

}  // namespace
