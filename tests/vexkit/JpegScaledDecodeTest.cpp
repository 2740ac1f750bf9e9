#include <gtest/gtest.h>

#include "tests/support/ImageFixtures.h"
#include "tests/support/TestSupport.h"
#include "vexkit/Assert.h"
#include "vexkit/ImageReader.h"
#include "vexkit/JpegScaledDecode.h"

namespace {

struct ScaleCase {
    uint32_t width, height, minWidth, minHeight;
    uint32_t expectedWidth, expectedHeight;
};

// TurboJPEG reduces by 7/8, 3/4, 5/8, 1/2, 3/8, 1/4 and 1/8, rounding sizes up.
TEST(JpegScaledDecode, PicksTheSmallestReductionThatStillCoversTheMinimum) {
    const ScaleCase cases[] = {
        {640, 480, 100, 100, 160, 120},  // 1/4; 1/8 gives 80 x 60
        {640, 480, 0, 0, 80, 60},        // nothing asked: 1/8
        {640, 480, 300, 200, 320, 240},  // 3/8 gives 240 wide: 1/2
        {640, 480, 100, 200, 320, 240},  // the height decides
        {640, 480, 560, 1, 560, 420},    // 7/8
        {640, 480, 641, 1, 640, 480},    // no reduction is large enough: full size
        {640, 480, 640, 480, 640, 480},  // exactly full size
        {100, 76, 13, 10, 13, 10},       // 1/8 of 100 x 76 rounds up to 13 x 10
    };
    kxtest::TempDir dir;
    for (const ScaleCase& c : cases) {
        const auto path = dir / ("p" + std::to_string(c.width) + "x" + std::to_string(c.height) + ".jpg");
        if (!std::filesystem::exists(path)) {
            kxtest::writeJpeg(path, c.width, c.height);
        }
        const vexkit::Image8UC3 img = vexkit::decodeJpegAtLeast(path.c_str(), c.minWidth, c.minHeight);
        EXPECT_EQ(std::make_pair(img.width(), img.height()),
                  std::make_pair(c.expectedWidth, c.expectedHeight))
            << c.minWidth << "x" << c.minHeight;
    }
}

TEST(JpegScaledDecode, PixelsMatchTheFullDecodeAveragedDown) {
    kxtest::TempDir dir;
    const auto path = dir / "big.jpg";
    kxtest::writeJpeg(path, 1024, 768);
    auto reader = vexkit::createImageReader();
    reader->setFile(path.c_str());
    const vexkit::Image8UC3 full = reader->decodeTo8UC3();
    for (const uint32_t minWidth : {128u, 256u, 512u}) {
        const vexkit::Image8UC3 scaled = vexkit::decodeJpegAtLeast(path.c_str(), minWidth, 1);
        ASSERT_EQ(std::make_pair(scaled.width(), scaled.height()),
                  std::make_pair(minWidth, minWidth * 3 / 4));
        EXPECT_GT(kxtest::psnr(scaled, kxtest::shrinkByAveraging(full, minWidth, minWidth * 3 / 4)), 35.0);
    }
    // At full size it is the full decode, pixel for pixel.
    const vexkit::Image8UC3 same = vexkit::decodeJpegAtLeast(path.c_str(), 1024, 768);
    EXPECT_EQ(kxtest::psnr(same, full), std::numeric_limits<double>::infinity());
}

TEST(JpegScaledDecode, FailsOnBadFilesLikeTheFullDecode) {
    kxtest::TempDir dir;
    kxtest::writeFile(dir / "garbage.jpg", "this is not a JPEG at all");
    testing::internal::CaptureStdout();
    try {
        vexkit::decodeJpegAtLeast((dir / "garbage.jpg").c_str(), 10, 10);
        ADD_FAILURE() << "garbage decoded";
    } catch (const vexkit::AssertionFailure& e) {
        EXPECT_STREQ(e.what(),
                     "tjDecompressHeader(tj.get(), jpegData.data(), jpegData.size(), &width, &height) == 0");
        EXPECT_STREQ(e.file, "ImageReader");
    }
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Error ImageReader:"), std::string::npos);
    // A missing file fails the whole-file read, before any decoding.
    EXPECT_THROW(vexkit::decodeJpegAtLeast((dir / "missing.jpg").c_str(), 10, 10), ::AssertionFailure);
}

}  // namespace
