// parseExif on real photographs, against the values that exiv2's own command-line view of each file
// implies (the raw EXIF rationals and XMP texts are listed beside the samples). Kept apart from the fixture
// tests: nothing in this program writes XMP, so the namespace registry starts as the client's does.
#include <cmath>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "metadata/parseExif.h"
#include "tests/metadata/MetaDataPrint.h"
#include "tests/support/TestSupport.h"
#include "vexkit/Assert.h"
#include "vexkit/ImageReader.h"

namespace {

using Source = ImgMetaData::GPS::Source;
using Triple = std::array<double, 3>;

double dms(double degrees, double minutes, double seconds) {
    return degrees + minutes / 60 + seconds / 3600;
}

using XY = std::optional<std::array<double, 2>>;
XY xy(double x, double y) {
    return std::array<double, 2>{x, y};
}
XY xy(double f) {
    return xy(f, f);
}

ImgMetaData::GPS xmp(double latitude, double longitude, double altitude) {
    return {Source::kXMP, latitude, longitude, altitude, std::nullopt, std::nullopt};
}
ImgMetaData::GPS exif(double latitude, double longitude, double altitude) {
    return {Source::kExif, latitude, longitude, altitude, std::nullopt, std::nullopt};
}

struct Photo {
    const char* file;
    uint32_t width, height;
    bool hasBaro;
    XY focal = {};
    std::optional<ImgMetaData::GPS> gps = {};
    std::optional<double> relativeAltitude = {};
    std::optional<Triple> flight = {};  // roll, pitch, yaw
    std::optional<Triple> gimbal = {};
    std::optional<Triple> speed = {};
    XY center = {};  // the image centre when not given
};

// The only sample with dewarp data and RTK deviations.
const char* const kP4m = "images-drone/derived/p4m_fc6360_real-xmp-exif_transplanted_400x325.jpg";
const auto kNo = std::nullopt;

const Photo kPhotos[] = {
    {"images-drone/xmp-only_dji-test-pro_19x12.jpg", 19, 12, true, kNo, xmp(52.9157605, 5.4491625, 22.32),
     24.90, Triple{-5.30, -16.20, -36.90}, Triple{0, -70.00, -46.80}},
    // The XMP sits in the EXIF XMLPacket tag, which exiv2 ignores: EXIF only.
    {"images-drone/mavic3pro_xmp-in-exif-xmlpacket_56x42.jpg", 56, 42, false, xy(38.829),
     exif(dms(53, 2, 7.5762), dms(6, 18, 0.5531), -62.394)},
    {"images-drone/mavic2pro_hasselblad_L1D-20c.jpg", 100, 67, true, xy(77.898),
     xmp(47.3541841, 10.1913155, 1252.12), 125.30, Triple{0, 0.90, -97.00}, Triple{0, 1.00, -127.10}},
    // No XMP position: EXIF latitude and longitude with the XMP absolute altitude; RtkFlag alone is dropped.
    {"images-drone/dji_flir_rtkflag0_neg-alt.jpg", 640, 512, true, kNo,
     exif(dms(40, 22, 39.0052), -dms(74, 29, 23.6881), -8.56), 62.50, Triple{-1.70, 7.20, -78.00},
     Triple{0, -89.90, -78.80}},
    {"images-drone/dji_xt2_unsigned-6dp.jpg", 640, 512, true, kNo,
     exif(dms(9, 58, 19.7665), dms(76, 22, 40.0291), 39.156853), 1.9, Triple{-0.9, 1.2, 81.900002},
     Triple{0, 0, 82.400002}},
    // The calibrated centre (0, 0) is taken as recorded.
    {"images-drone/m3t_calibrated-zero-center_DJI_0002_R.JPG", 640, 512, true, xy(9100),
     xmp(22.693994404, 114.965864676, 94.098), 87.159, Triple{3.10, 4.50, 32.70}, Triple{0, -1.40, 32.70},
     Triple{0, 0, 0}, xy(0, 0)},
    {"images-drone/zh20t_DJI_20220602143532_0191_T.JPG", 640, 512, true, xy(1098.695),
     xmp(51.3661299, 12.3089511, 252.475), 94.992, Triple{-3.10, -2.50, 3.10}, Triple{0, -90.00, 6.00},
     Triple{3.6, 0.1, 0}},
    {"images-drone/phantom3_fc300s_DJI_0025.JPG", 4000, 2250, true, xy(2121.446),
     exif(dms(46, 50, 33.9859), -dms(91, 59, 37.7734), 198.51), 40.00, Triple{0.90, -1.60, -129.90},
     Triple{0, -89.90, -132.00}},
    // The size is the coded one, whatever the swapped EXIF dimensions say.
    {"images-drone/inspire1_fc350_swapped-exif-dims_DJI_0061.JPG", 2400, 1800, true, xy(1386.75),
     exif(dms(41, 32, 54.9462), -dms(83, 41, 55.1356), 119.7)},
    // Another maker's XMP namespace: none of its keys count.
    {"images-drone/skydio2_drone-skydio-ns.jpg", 1500, 844, false, xy(835.379),
     exif(dms(32, 31.136124, 0), -dms(110, 55.47282, 0), 1034.441)},
    {kP4m, 400, 325, true, xy(1952.8499756, 1942.8399658), xmp(-20.44058452, 57.31885385, 117.10), 120.99,
     Triple{4.20, 5.10, -48.20}, Triple{0, -89.90, -48.60}, Triple{0, 0.10, 0},
     xy(800 - 25.1129761, 650 - 5.8079834)},
    {"images-heif/Stonehenge.heic", 300, 200, false, xy(550),
     exif(dms(51, 10, 41.81), -dms(1, 49, 35.90), 97)},
    // No altitude anywhere: no position.
    {"images-heif/exif-at-eof.heic", 3024, 4032, false, xy(3028.663)},
    // Rotated files report their stored size.
    {"images-heif/iphonexr_irot270_orient6_gps.heic", 4032, 3024, false, xy(3028.663),
     exif(dms(30, 34, 49.32), -dms(88, 4, 26.06), 115727.0 / 39871)},
    {"images-heif/HMD_Nokia_8.3_5G_irot270_orient1.heif", 4608, 3456, false, kNo,
     exif(dms(40, 47, 19.266792), -dms(4, 0, 18.50706), 1942.4216)},
    // Empty references and zero denominators: no position, no failure.
    {"images-heif/samsung_gps-zero-empty-ref_issue487.heic", 4032, 3024, false, xy(3028.663)},
    {"images-avif/gimp_exif_gps_avif_metadata2.avif", 120, 120, false, kNo, exif(7, 0, -10000)},
    {"images-avif/Ronda_rotate90.avif", 1920, 1080, false},
    {"images-avif/mountains_empty-gps-ifd.avif", 1920, 1080, false},
    {"images-avif/canon70d_exif_xmp_issue649.avif", 5472, 3648, false},
    // A GPS altitude without its reference is not used.
    {"sfm-set/lund/01.jpg", 1024, 768, false, xy(1035.44)},
};

template <size_t n>
void expectNear(const std::optional<std::array<float, n>>& actual,
                const std::optional<std::array<double, n>>& expected, double tolerance) {
    ASSERT_EQ(actual.has_value(), expected.has_value());
    for (size_t i = 0; expected && i < n; ++i) {
        EXPECT_NEAR((*actual)[i], (*expected)[i], tolerance) << i;
    }
}

std::optional<std::array<float, 3>> angles(const std::optional<ImgMetaData::Attitude>& a) {
    return a ? std::optional(std::array<float, 3>{a->roll, a->pitch, a->yaw}) : std::nullopt;
}

TEST(RealPhotos, ParseToWhatTheirMetadataSays) {
    KX_REQUIRE_SHARED_TESTDATA(dir);
    for (const Photo& p : kPhotos) {
        SCOPED_TRACE(p.file);
        const ImgMetaData m = parseExif((dir / p.file).c_str());
        SCOPED_TRACE(describe(m));
        EXPECT_EQ(m.width, p.width);
        EXPECT_EQ(m.height, p.height);
        expectNear(m.focal, p.focal, 1e-3);
        expectNear(m.center, p.center ? p.center : xy(p.width / 2.0, p.height / 2.0), 1e-3);
        ASSERT_EQ(m.gps.has_value(), p.gps.has_value());
        if (p.gps) {
            EXPECT_EQ(m.gps->source, p.gps->source);
            // Single precision: about 1e-5 degrees and a few millimetres at these altitudes.
            EXPECT_NEAR(m.gps->latitude, p.gps->latitude, 1e-5);
            EXPECT_NEAR(m.gps->longitude, p.gps->longitude, 1e-5);
            EXPECT_NEAR(m.gps->altitude, p.gps->altitude, 1e-3);
        }
        ASSERT_EQ(m.relativeAltitude.has_value(), p.relativeAltitude.has_value());
        if (p.relativeAltitude) {
            EXPECT_NEAR(*m.relativeAltitude, *p.relativeAltitude, 1e-4);
        }
        expectNear(angles(m.flightAttitude), p.flight, 1e-5);
        expectNear(angles(m.gimbalAttitude), p.gimbal, 1e-5);
        expectNear(m.flightSpeed, p.speed, 1e-5);
        EXPECT_EQ(m.hasBaro, p.hasBaro);
        if (p.file == kP4m) {
            EXPECT_EQ(m.distortion,
                      (std::array<float, 5>{-0.4146600f, 0.3461410f, 0.0009680f, 0.0009680f, -0.3135410f}));
            EXPECT_EQ(m.gps->rtkFlag, 50);
            EXPECT_EQ(m.gps->rtkStd, (std::array<float, 3>{0.02404f, 0.00988f, 0.01137f}));
        } else {
            EXPECT_FALSE(m.distortion);
            EXPECT_FALSE(m.gps && (m.gps->rtkFlag || m.gps->rtkStd));
        }
    }
}

TEST(RealPhotos, RotatedHeicDecodesInItsStoredOrientation) {
    KX_REQUIRE_SHARED_TESTDATA(dir);
    auto reader = vexkit::createImageReader();
    reader->setFile((dir / "images-heif/iphonexr_irot270_orient6_gps.heic").c_str());
    const vexkit::Image8UC3 img = reader->decodeTo8UC3();
    EXPECT_EQ(std::make_pair(img.width(), img.height()), std::make_pair(4032u, 3024u));
}

TEST(RealPhotos, FilesWithMoreThanOneTopLevelImageAreRefused) {
    KX_REQUIRE_SHARED_TESTDATA(dir);
    for (const char* file : {"images-heif/two-top-level-images_example.heic",
                             "images-avif/grid-2x2_unhidden-tiles_800x600.avif"}) {
        testing::internal::CaptureStdout();
        EXPECT_THROW(parseExif((dir / file).c_str()), vexkit::AssertionFailure) << file;
        testing::internal::GetCapturedStdout();
    }
}

}  // namespace
