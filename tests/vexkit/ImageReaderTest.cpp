#include <fstream>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include <exiv2/exiv2.hpp>

#include "tests/support/ImageFixtures.h"
#include "tests/support/TestSupport.h"
#include "vexkit/Assert.h"
#include "vexkit/HeifError.h"
#include "vexkit/ImageReader.h"

namespace {

using kxtest::HeifOptions;
using kxtest::ImageTags;

// Runs `f`, expecting vexkit::AssertionFailure with `expression`, printed with the reader's unit.
template <typename F>
void expectAssertion(F&& f, const std::string& expression) {
    testing::internal::CaptureStdout();
    try {
        f();
        ADD_FAILURE() << "no assertion failure, expected " << expression;
    } catch (const vexkit::AssertionFailure& e) {
        EXPECT_EQ(e.what(), expression);
        EXPECT_STREQ(e.file, "ImageReader");
    }
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Error ImageReader:"), std::string::npos) << out;
    EXPECT_NE(out.find("failed assertion " + expression + "\n"), std::string::npos) << out;
}

std::string exifValue(const Exiv2::ExifData& exif, const char* key) {
    const auto pos = exif.findKey(Exiv2::ExifKey(key));
    return pos == exif.end() ? "<absent>" : pos->toString();
}

std::string xmpValue(const Exiv2::XmpData& xmp, const char* key) {
    const auto pos = xmp.findKey(Exiv2::XmpKey(key));
    return pos == xmp.end() ? "<absent>" : pos->toString();
}

ImageTags sampleTags() {
    return ImageTags().exifMake("DJI").focal35(24).exifGps(47.51, -8.25, 12.5).droneGps(47.1, 8.2, 400.5);
}

TEST(ImageReader, ChoosesTheFormatByExtensionInAnyCase) {
    kxtest::TempDir dir;
    kxtest::writeJpeg(dir / "a.JPG", 96, 64);
    std::filesystem::copy_file(dir / "a.JPG", dir / "b.Jpeg");
    kxtest::writeHeif(dir / "c.HEIC", 96, 64);
    kxtest::writeHeif(dir / "d.Avif", 96, 64);
    std::filesystem::copy_file(dir / "c.HEIC", dir / "e.heif");
    auto reader = vexkit::createImageReader();
    for (const char* name : {"a.JPG", "b.Jpeg", "c.HEIC", "d.Avif", "e.heif"}) {
        const auto path = dir / name;
        reader->setFile(path.c_str());
        EXPECT_EQ(reader->getWidth(), 96u) << name;
        EXPECT_EQ(reader->getHeight(), 64u) << name;
        EXPECT_EQ(vexkit::getImageSize(path.c_str()), std::make_pair(96u, 64u)) << name;
        const vexkit::Image8UC3 img = reader->decodeTo8UC3();
        EXPECT_GT(kxtest::psnr(img, kxtest::makePattern(96, 64)), 30.0) << name;
    }
    std::filesystem::copy_file(dir / "a.JPG", dir / "f.png");
    std::filesystem::copy_file(dir / "a.JPG", dir / "noext");
    for (const char* name : {"f.png", "noext"}) {
        const auto path = dir / name;
        try {
            reader->setFile(path.c_str());
            ADD_FAILURE() << name;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "unknown image file type") << name;
        }
        EXPECT_THROW(vexkit::getImageSize(path.c_str()), std::runtime_error) << name;
    }
}

TEST(ImageReader, UnknownTypeValueIsAnInternalError) {
    vexkit::ImageReader reader;
    try {
        reader.setFile("x.jpg", static_cast<vexkit::ImageFileType>(7));
        ADD_FAILURE();
    } catch (const vexkit::Exception& e) {
        EXPECT_STREQ(e.what(), "You should never reach here\n");
        EXPECT_STREQ(e.file, "ImageReader");
    }
    EXPECT_THROW(reader.getWidth(), vexkit::Exception);
}

TEST(ImageReader, JpegMetadataAndPixels) {
    kxtest::TempDir dir;
    const auto path = dir / "tagged.jpg";
    kxtest::writeJpeg(path, 320, 240, sampleTags());
    auto reader = vexkit::createImageReader();
    reader->setFile(path.c_str());
    const Exiv2::XmpData xmp = reader->getXmpData();
    const Exiv2::ExifData exif = reader->getExifData();
    EXPECT_EQ(xmpValue(xmp, "Xmp.drone-dji.GpsLatitude"), "+47.100000000");
    EXPECT_NE(xmp.xmpPacket().find("GpsLatitude"), std::string::npos) << "the raw packet is kept";
    EXPECT_EQ(exifValue(exif, "Exif.Image.Make"), "DJI");
    EXPECT_EQ(exifValue(exif, "Exif.GPSInfo.GPSLatitude"), "47/1 30/1 360000/10000");
    EXPECT_EQ(exifValue(exif, "Exif.GPSInfo.GPSLongitudeRef"), "W");
    EXPECT_EQ(reader->getWidth(), 320u);
    EXPECT_EQ(reader->getHeight(), 240u);
    EXPECT_GT(kxtest::psnr(reader->decodeTo8UC3(), kxtest::makePattern(320, 240)), 30.0);
}

TEST(ImageReader, ASecondJpegForgetsTheFirst) {
    kxtest::TempDir dir;
    kxtest::writeJpeg(dir / "one.jpg", 128, 96, ImageTags().exifMake("First"));
    kxtest::writeJpeg(dir / "two.jpg", 64, 80);
    auto reader = vexkit::createImageReader();
    reader->setFile((dir / "one.jpg").c_str());
    ASSERT_EQ(reader->getWidth(), 128u);
    ASSERT_EQ(exifValue(reader->getExifData(), "Exif.Image.Make"), "First");
    reader->setFile((dir / "two.jpg").c_str());
    EXPECT_EQ(reader->getWidth(), 64u);
    EXPECT_EQ(reader->getHeight(), 80u);
    EXPECT_TRUE(reader->getExifData().empty());
    EXPECT_TRUE(reader->getXmpData().empty());
    EXPECT_EQ(reader->decodeTo8UC3().height(), 80u);
}

TEST(ImageReader, JpegErrorsComeFromTheLibraries) {
    kxtest::TempDir dir;
    auto reader = vexkit::createImageReader();
    reader->setFile((dir / "missing.jpg").c_str());
    try {
        reader->getWidth();
        ADD_FAILURE();
    } catch (const std::exception& e) {
        EXPECT_EQ(std::string(e.what()).rfind("file_stream_device: failed to open file for reading", 0), 0u);
    }
    EXPECT_THROW(reader->getExifData(), Exiv2::AnyError);
    kxtest::writeFile(dir / "text.jpg", "plain text, no markers");
    reader->setFile((dir / "text.jpg").c_str());
    try {
        reader->getHeight();
        ADD_FAILURE();
    } catch (const std::exception& e) {
        EXPECT_EQ(std::string(e.what()).rfind("jpeg is invalid.", 0), 0u);
    }
    expectAssertion([&] { reader->decodeTo8UC3(); },
                    "tjDecompressHeader(tj.get(), jpegData.data(), jpegData.size(), &width, &height) == 0");
}

TEST(ImageReader, TruncatedJpegFailsTheDecodeNotTheProcess) {
    kxtest::TempDir dir;
    const std::string whole = kxtest::encodeJpeg(kxtest::makePattern(256, 256));
    kxtest::writeFile(dir / "cut.jpg", whole.substr(0, whole.size() / 2));
    auto reader = vexkit::createImageReader();
    reader->setFile((dir / "cut.jpg").c_str());
    EXPECT_EQ(reader->getWidth(), 256u);
    expectAssertion(
        [&] { reader->decodeTo8UC3(); },
        "0 == tjDecompress2(tj.get(), jpegData.data(), jpegData.size(), "
        "reinterpret_cast<uint8_t*>(img.data()), width, sizeof(Image8UC3::Pixel) * width, height, "
        "TJPF_RGB, TJFLAG_ACCURATEDCT)");
}

struct HeifCase {
    const char* name;
    HeifOptions options;
};

TEST(ImageReader, HeifAndAvifMetadataBlocks) {
    HeifOptions prefixed;
    prefixed.exifHeaderPrefix = true;
    const HeifCase cases[] = {{"plain.heic", {}}, {"prefixed.heic", prefixed}, {"plain.avif", {}}};
    kxtest::TempDir dir;
    for (const HeifCase& c : cases) {
        const auto path = dir / c.name;
        kxtest::writeHeif(path, 128, 96, sampleTags(), c.options);
        auto reader = vexkit::createImageReader();
        reader->setFile(path.c_str());
        const Exiv2::XmpData xmp = reader->getXmpData();
        const Exiv2::ExifData exif = reader->getExifData();
        EXPECT_EQ(xmpValue(xmp, "Xmp.drone-dji.AbsoluteAltitude"), "+400.500000000") << c.name;
        EXPECT_EQ(exifValue(exif, "Exif.Photo.FocalLengthIn35mmFilm"), "24") << c.name;
        EXPECT_EQ(exifValue(exif, "Exif.GPSInfo.GPSAltitude"), "12500/1000") << c.name;
        EXPECT_EQ(reader->getWidth(), 128u);
        EXPECT_EQ(reader->getHeight(), 96u);
    }
}

TEST(ImageReader, HeifWithoutMetadataHasEmptyContainers) {
    kxtest::TempDir dir;
    kxtest::writeHeif(dir / "bare.heic", 64, 64);
    auto reader = vexkit::createImageReader();
    reader->setFile((dir / "bare.heic").c_str());
    EXPECT_TRUE(reader->getExifData().empty());
    EXPECT_TRUE(reader->getXmpData().empty());
}

TEST(ImageReader, RotatedHeicDecodesInStoredOrientation) {
    kxtest::TempDir dir;
    HeifOptions rotated;
    rotated.orientation = 6;
    const auto path = dir / "rotated.heic";
    kxtest::writeHeif(path, 128, 64, {}, rotated);
    auto reader = vexkit::createImageReader();
    reader->setFile(path.c_str());
    EXPECT_EQ(reader->getWidth(), 128u);
    EXPECT_EQ(reader->getHeight(), 64u);
    const vexkit::Image8UC3 img = reader->decodeTo8UC3();
    ASSERT_EQ(img.width(), 128u);
    ASSERT_EQ(img.height(), 64u);
    EXPECT_GT(kxtest::psnr(img, kxtest::makePattern(128, 64)), 30.0) << "pixels were turned";
}

TEST(ImageReader, HeifStructuresTheReaderRefuses) {
    kxtest::TempDir dir;
    HeifOptions two;
    two.nbTopLevelImages = 2;
    kxtest::writeHeif(dir / "two-images.heic", 64, 64, {}, two);
    auto reader = vexkit::createImageReader();
    expectAssertion([&] { reader->setFile((dir / "two-images.heic").c_str()); },
                    "mCtx.get_number_of_top_level_images() == 1");
    // Nothing of an earlier file answers for a file that failed.
    kxtest::writeHeif(dir / "good.heic", 64, 64);
    reader->setFile((dir / "good.heic").c_str());
    EXPECT_THROW(reader->setFile((dir / "two-images.heic").c_str()), vexkit::AssertionFailure);
    EXPECT_THROW(reader->getWidth(), vexkit::AssertionFailure);

    HeifOptions twoExif;
    twoExif.nbExifBlocks = 2;
    kxtest::writeHeif(dir / "two-exif.heic", 64, 64, ImageTags().exifMake("X"), twoExif);
    reader->setFile((dir / "two-exif.heic").c_str());
    expectAssertion([&] { reader->getExifData(); }, "exifIds.size() == 1");

    HeifOptions twoXmp;
    twoXmp.nbXmpBlocks = 2;
    kxtest::writeHeif(dir / "two-xmp.heic", 64, 64, ImageTags().xmpMake("X"), twoXmp);
    reader->setFile((dir / "two-xmp.heic").c_str());
    expectAssertion([&] { reader->getXmpData(); }, "xmpIds.size() == 1");

    ImageTags badXmp;
    badXmp.rawXmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF";
    kxtest::writeHeif(dir / "bad-xmp.avif", 64, 64, badXmp);
    reader->setFile((dir / "bad-xmp.avif").c_str());
    expectAssertion([&] { reader->getXmpData(); }, "Exiv2::XmpParser::decode(dst, xmpPacket) == 0");
}

TEST(ImageReader, LibheifFailuresCarryLibheifsMessage) {
    kxtest::TempDir dir;
    auto reader = vexkit::createImageReader();
    try {
        reader->setFile((dir / "missing.heic").c_str());
        ADD_FAILURE();
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("Error opening file"), std::string::npos) << e.what();
        ASSERT_NE(dynamic_cast<const heif::Error*>(&e), nullptr);
    }
    // A file whose boxes parse but whose coded data is wiped: reading succeeds, decoding must fail loudly.
    kxtest::writeHeif(dir / "whole.heic", 256, 256);
    std::string bytes = kxtest::readFile(dir / "whole.heic");
    const size_t mdat = bytes.find("mdat");
    ASSERT_NE(mdat, std::string::npos);
    std::fill(bytes.begin() + mdat + 4, bytes.end(), '\0');
    kxtest::writeFile(dir / "wiped.heic", bytes);
    reader->setFile((dir / "wiped.heic").c_str());
    ASSERT_EQ(reader->getWidth(), 256u);
    try {
        reader->decodeTo8UC3();
        ADD_FAILURE() << "a cut-off image decoded";
    } catch (const vexkit::HeifError& e) {
        EXPECT_EQ(e.what(), e.get_message());
        EXPECT_NE(e.get_code(), heif_error_Ok);
        EXPECT_FALSE(e.get_message().empty());
    }
}

TEST(ImageReader, GrayUsesTheLumaWeights) {
    vexkit::Image8UC3 rgb(6, 1);
    const vexkit::Rgb8 pixels[] = {{255, 255, 255}, {0, 0, 0},   {255, 0, 0},
                                   {0, 255, 0},     {0, 0, 255}, {10, 20, 30}};
    std::copy(std::begin(pixels), std::end(pixels), rgb.data());
    const vexkit::Image8UC1 gray = vexkit::rgbToGray(rgb);
    ASSERT_EQ(gray.width(), 6u);
    ASSERT_EQ(gray.height(), 1u);
    // 0.299 R + 0.587 G + 0.114 B, rounded: 76.2, 149.7, 29.1 and 18.1 for (10, 20, 30).
    const uint8_t expected[] = {255, 0, 76, 150, 29, 18};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(gray.data()[i], expected[i]) << i;
    }
}

TEST(ImageReader, XmpSetUpRunsOnceAcrossThreads) {
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([] { vexkit::initXmpParserOnce(); });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_NO_THROW(Exiv2::XmpKey("Xmp.drone-dji.RelativeAltitude"));
    EXPECT_FALSE(Exiv2::XmpProperties::ns("drone-dji").empty());
}

}  // namespace
