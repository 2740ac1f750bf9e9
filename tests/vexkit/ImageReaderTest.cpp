#include <limits>
#include <type_traits>

#include <gtest/gtest.h>

#include <exiv2/exiv2.hpp>

#include "tests/support/ImageFixtures.h"
#include "tests/support/TestSupport.h"
#include "vexkit/Assert.h"
#include "vexkit/HeifError.h"
#include "vexkit/ImageReader.h"
#include "vexkit/JpegScaledDecode.h"

namespace {

using kxtest::HeifOptions;
using kxtest::ImageTags;
using Path = std::filesystem::path;

// The message of the std::exception that `f` throws.
template <typename F>
std::string messageOf(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no exception";
}

// One EXIF or XMP value as text, "<absent>" without the key.
template <typename Data>
std::string value(const Data& data, const char* key) {
    using Key = std::conditional_t<std::is_same_v<Data, Exiv2::ExifData>, Exiv2::ExifKey, Exiv2::XmpKey>;
    const auto pos = data.findKey(Key(key));
    return pos == data.end() ? "<absent>" : pos->toString();
}

std::unique_ptr<vexkit::IImageReader> readerOf(const Path& path) {
    auto reader = vexkit::createImageReader();
    reader->setFile(path.c_str());
    return reader;
}

const ImageTags kTags =
    ImageTags().exifMake("DJI").focal35(24).exifGps(47.51, -8.25, 12.5).droneGps(47.1, 8.2, 400.5);

TEST(ImageReader, MetadataOfEveryFormatAndASecondFileForgettingThem) {
    kxtest::TempDir dir;
    // The format is chosen by the extension in any case.
    kxtest::writeJpeg(dir / "tagged.Jpeg", 128, 96, kTags);
    kxtest::writeHeif(dir / "plain.HEIC", 128, 96, kTags);
    kxtest::writeHeif(dir / "plain.Avif", 128, 96, kTags);
    for (const char* name : {"tagged.Jpeg", "plain.HEIC", "plain.Avif"}) {
        SCOPED_TRACE(name);
        auto reader = readerOf(dir / name);
        const Exiv2::XmpData xmp = reader->getXmpData();
        const Exiv2::ExifData exif = reader->getExifData();
        EXPECT_EQ(value(xmp, "Xmp.drone-dji.GpsLatitude"), "+47.100000000");
        EXPECT_NE(xmp.xmpPacket().find("GpsLatitude"), std::string::npos) << "the raw packet is kept";
        EXPECT_EQ(value(exif, "Exif.Image.Make"), "DJI");
        EXPECT_EQ(value(exif, "Exif.GPSInfo.GPSLatitude"), "47/1 30/1 360000/10000");
        EXPECT_EQ(vexkit::getImageSize((dir / name).c_str()), std::make_pair(128u, 96u));
        EXPECT_GT(kxtest::psnr(reader->decodeTo8UC3(), kxtest::makePattern(128, 96)), 30.0);
    }
    // Nothing of an earlier file answers for a bare one, or for one that failed.
    auto reader = readerOf(dir / "tagged.Jpeg");
    reader->getExifData();
    kxtest::writeJpeg(dir / "bare.jpg", 64, 80);
    kxtest::writeHeif(dir / "bare.heic", 64, 80);
    for (const char* bare : {"bare.jpg", "bare.heic"}) {
        reader->setFile((dir / bare).c_str());
        EXPECT_EQ(reader->getWidth(), 64u) << bare;
        EXPECT_TRUE(reader->getExifData().empty()) << bare;
        EXPECT_TRUE(reader->getXmpData().empty()) << bare;
        EXPECT_EQ(reader->decodeTo8UC3().height(), 80u) << bare;
    }
    HeifOptions options;
    options.nbTopLevelImages = 2;
    kxtest::writeHeif(dir / "two-images.heic", 64, 64, {}, options);
    EXPECT_THROW(reader->setFile((dir / "two-images.heic").c_str()), vexkit::AssertionFailure);
    EXPECT_THROW(reader->getWidth(), vexkit::AssertionFailure);
}

TEST(ImageReader, ScaledJpegDecodeIsTheSmallestReductionCoveringTheMinimum) {
    kxtest::TempDir dir;
    const Path path = dir / "big.jpg";
    kxtest::writeJpeg(path, 1024, 768);
    const vexkit::Image8UC3 full = readerOf(path)->decodeTo8UC3();
    // 1/8 is the smallest reduction; 3/8 of 1024 is 384, too narrow for 400; 3/8 of 768 covers 200.
    const std::pair<uint32_t, uint32_t> rows[][2] = {
        {{0, 0}, {128, 96}}, {{400, 1}, {512, 384}}, {{100, 200}, {384, 288}}};
    for (const auto& [minimum, expected] : rows) {
        const vexkit::Image8UC3 scaled =
            vexkit::decodeJpegAtLeast(path.c_str(), minimum.first, minimum.second);
        ASSERT_EQ(std::make_pair(scaled.width(), scaled.height()), expected) << minimum.first;
        EXPECT_GT(kxtest::psnr(scaled, kxtest::shrinkByAveraging(full, expected.first, expected.second)),
                  35.0);
    }
    // No reduction large enough: the full decode, pixel for pixel.
    EXPECT_EQ(kxtest::psnr(vexkit::decodeJpegAtLeast(path.c_str(), 1025, 1), full),
              std::numeric_limits<double>::infinity());
}

TEST(ImageReader, HugeClaimedJpegSizeIsRefusedBeforeAnyDecode) {
    kxtest::TempDir dir;
    std::string bytes = kxtest::encodeJpeg(kxtest::makePattern(64, 64));
    const size_t frame = bytes.find("\xFF\xC0");  // marker, length, precision, height, width
    ASSERT_NE(frame, std::string::npos);
    bytes.replace(frame + 5, 4, "\x75\x30\x75\x30");  // 30000 x 30000
    const Path path = dir / "huge.jpg";
    kxtest::writeFile(path, bytes);
    const std::string refused =
        "the image is 30000 x 30000 pixels, more than the 400 megapixels this program reads";
    EXPECT_EQ(messageOf([&] { readerOf(path)->getWidth(); }), refused);
    EXPECT_EQ(messageOf([&] { readerOf(path)->decodeTo8UC3(); }), refused);
}

// A truncated JPEG and a HEIF whose boxes parse but whose coded data is wiped: both measure, then fail
// their decode loudly.
TEST(ImageReader, UnknownCutAndWipedFilesFailLoudly) {
    kxtest::TempDir dir;
    const std::string whole = kxtest::encodeJpeg(kxtest::makePattern(256, 256));
    kxtest::writeFile(dir / "cut.jpg", whole.substr(0, whole.size() / 2));
    auto reader = readerOf(dir / "cut.jpg");
    EXPECT_EQ(reader->getWidth(), 256u);
    try {
        reader->decodeTo8UC3();
        ADD_FAILURE() << "a cut-off image decoded";
    } catch (const vexkit::AssertionFailure& e) {
        EXPECT_STREQ(e.file, "ImageReader");
    }
    kxtest::writeFile(dir / "f.png", whole);
    EXPECT_EQ(messageOf([&] { reader->setFile((dir / "f.png").c_str()); }), "unknown image file type");

    kxtest::writeHeif(dir / "whole.heic", 256, 256);
    std::string bytes = kxtest::readFile(dir / "whole.heic");
    const size_t mdat = bytes.find("mdat");
    ASSERT_NE(mdat, std::string::npos);
    std::fill(bytes.begin() + mdat + 4, bytes.end(), '\0');
    kxtest::writeFile(dir / "wiped.heic", bytes);
    reader = readerOf(dir / "wiped.heic");
    ASSERT_EQ(reader->getWidth(), 256u);
    try {
        reader->decodeTo8UC3();
        ADD_FAILURE() << "a wiped image decoded";
    } catch (const vexkit::HeifError& e) {
        EXPECT_NE(e.get_code(), heif_error_Ok);
    }
}

}  // namespace
