#include <cstring>

#include <QImage>

#include <gtest/gtest.h>

#include "project/Thumbnail.h"
#include "tests/support/ImageFixtures.h"
#include "tests/support/TestSupport.h"

namespace {

vexkit::Image8UC3 toRgb(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    vexkit::Image8UC3 out(static_cast<uint32_t>(rgb.width()), static_cast<uint32_t>(rgb.height()));
    for (int y = 0; y < rgb.height(); ++y) {
        std::memcpy(out.row(static_cast<uint32_t>(y)), rgb.constScanLine(y),
                    3 * static_cast<size_t>(rgb.width()));
    }
    return out;
}

void expectSameThumbnail(const std::filesystem::path& file, double minPsnr) {
    const QImage fast = makeThumbnail(file.c_str(), kThumbnailSize);
    const QImage full = makeFullDecodeThumbnail(file.c_str(), kThumbnailSize);
    ASSERT_EQ(fast.size(), full.size()) << file;
    const double db = kxtest::psnr(toRgb(fast), toRgb(full));
    EXPECT_GE(db, minPsnr) << file;
}

}  // namespace

TEST(Thumbnail, FastJpegPathMatchesTheFullDecode) {
    kxtest::TempDir dir;
    const std::pair<uint32_t, uint32_t> sizes[] = {{4000, 3000}, {1001, 751}, {383, 200}};
    for (const auto& [w, h] : sizes) {
        const auto path = dir / ("p" + std::to_string(w) + "x" + std::to_string(h) + ".jpg");
        kxtest::writeJpeg(path, w, h);
        expectSameThumbnail(path, 45.0);
    }
}

TEST(Thumbnail, RealPhotographsMatchTheFullDecode) {
    KX_REQUIRE_SHARED_TESTDATA(data);
    // Real detail suffers from a too strong reduction where the smooth fixtures do not.
    for (const char* name : {"images-drone/phantom3_fc300s_DJI_0025.JPG",
                             "images-drone/inspire1_fc350_swapped-exif-dims_DJI_0061.JPG"}) {
        expectSameThumbnail(data / name, 45.0);
    }
}
