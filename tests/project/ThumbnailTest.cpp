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

}  // namespace

TEST(Thumbnail, RealPhotographsMatchTheFullDecode) {
    KX_REQUIRE_SHARED_TESTDATA(data);
    // Real detail suffers from a too strong reduction where the smooth fixtures do not.
    for (const char* name : {"images-drone/phantom3_fc300s_DJI_0025.JPG",
                             "images-drone/inspire1_fc350_swapped-exif-dims_DJI_0061.JPG"}) {
        const auto file = data / name;
        const QImage fast = makeThumbnail(file.c_str(), kThumbnailSize);
        const QImage full = makeFullDecodeThumbnail(file.c_str(), kThumbnailSize);
        ASSERT_EQ(fast.size(), full.size()) << name;
        EXPECT_GE(kxtest::psnr(toRgb(fast), toRgb(full)), 45.0) << name;
    }
}
