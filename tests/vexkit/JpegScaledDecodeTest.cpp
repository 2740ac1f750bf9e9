#include <gtest/gtest.h>

#include "tests/support/ImageFixtures.h"
#include "tests/support/TestSupport.h"
#include "vexkit/Assert.h"
#include "vexkit/ImageReader.h"
#include "vexkit/JpegScaledDecode.h"

namespace {

std::pair<uint32_t, uint32_t> sizeOf(const vexkit::Image8UC3& img) {
    return {img.width(), img.height()};
}

TEST(JpegScaledDecode, SmallestReductionCoveringTheMinimumMatchesTheFullDecodeAveragedDown) {
    kxtest::TempDir dir;
    const auto path = dir / "big.jpg";
    kxtest::writeJpeg(path, 1024, 768);
    auto reader = vexkit::createImageReader();
    reader->setFile(path.c_str());
    const vexkit::Image8UC3 full = reader->decodeTo8UC3();
    // 128 x 96 is the smallest reduction (1/8); 3/8 of 1024 is 384, too narrow for 400.
    const std::pair<uint32_t, uint32_t> rows[][2] = {
        {{0, 0}, {128, 96}}, {{256, 1}, {256, 192}}, {{400, 1}, {512, 384}}, {{100, 200}, {384, 288}}};
    for (const auto& [minimum, expected] : rows) {
        const vexkit::Image8UC3 scaled =
            vexkit::decodeJpegAtLeast(path.c_str(), minimum.first, minimum.second);
        ASSERT_EQ(sizeOf(scaled), expected) << minimum.first << "x" << minimum.second;
        EXPECT_GT(kxtest::psnr(scaled, kxtest::shrinkByAveraging(full, expected.first, expected.second)),
                  35.0);
    }
    // No reduction large enough: the full decode, pixel for pixel.
    EXPECT_EQ(kxtest::psnr(vexkit::decodeJpegAtLeast(path.c_str(), 1025, 1), full),
              std::numeric_limits<double>::infinity());
}

TEST(JpegScaledDecode, FailsOnBadFilesLikeTheFullDecode) {
    kxtest::TempDir dir;
    kxtest::writeFile(dir / "garbage.jpg", "this is not a JPEG at all");
    testing::internal::CaptureStdout();
    try {
        vexkit::decodeJpegAtLeast((dir / "garbage.jpg").c_str(), 10, 10);
        ADD_FAILURE() << "garbage decoded";
    } catch (const vexkit::AssertionFailure& e) {
        EXPECT_STREQ(e.file, "ImageReader");
    }
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Error ImageReader:"), std::string::npos);
    // A missing file fails the whole-file read, before any decoding.
    EXPECT_THROW(vexkit::decodeJpegAtLeast((dir / "missing.jpg").c_str(), 10, 10), ::AssertionFailure);
}

}  // namespace
