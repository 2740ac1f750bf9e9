#include "project/Thumbnail.h"

#include <limits>
#include <memory>

#include <QPixmap>

#include "project/DashAssert.h"
#include "vexkit/ImageReader.h"
#include "vexkit/JpegScaledDecode.h"

namespace {

// The reduced decode is at least this many times the thumbnail's size, so that the final smooth scaling
// still averages many decoded pixels into each thumbnail pixel, as it does from the full image.
constexpr uint32_t kOversampling = 6;

vexkit::IImageReader& threadReader() {
    thread_local std::unique_ptr<vexkit::IImageReader> reader = vexkit::createImageReader();
    return *reader;
}

// Wraps the decoded pixels without copying; the result lives only as long as `image`.
QImage wrapRgb(const vexkit::Image8UC3& image) {
    return QImage(reinterpret_cast<const uchar*>(image.data()), static_cast<int>(image.width()),
                  static_cast<int>(image.height()), static_cast<int>(3 * image.width()),
                  QImage::Format_RGB888);
}

vexkit::Image8UC3 decodeFull(const char* file) {
    vexkit::IImageReader& reader = threadReader();
    reader.setFile(file);
    return reader.decodeTo8UC3();
}

// The whole image decoded, then scaled smoothly to fit `box`: the reference the fast path is measured by.
QPixmap fullDecodeScaled(const char* file, QSize box) {
    const vexkit::Image8UC3 decoded = decodeFull(file);
    return QPixmap::fromImage(wrapRgb(decoded)).scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

}  // namespace

QSize fitSize(QSize imageSize, QSize box) {
    return imageSize.scaled(box, Qt::KeepAspectRatio);
}

uint32_t jpegThumbnailReduction(uint32_t width, uint32_t height, QSize box) {
    const QSize target = fitSize(QSize(static_cast<int>(width), static_cast<int>(height)), box);
    const uint32_t minWidth = kOversampling * static_cast<uint32_t>(target.width());
    const uint32_t minHeight = kOversampling * static_cast<uint32_t>(target.height());
    for (uint32_t d : {8u, 4u, 2u}) {
        if ((width + d - 1) / d >= minWidth && (height + d - 1) / d >= minHeight) {
            return d;
        }
    }
    return 1;
}

QImage makeThumbnail(const char* file, QSize box) {
    vexkit::Image8UC3 decoded;
    QSize target;
    if (vexkit::imageFileTypeOf(file) == vexkit::ImageFileType::kJpeg) {
        // The final size follows the stored size, exactly as for the full decode.
        const auto [width, height] = vexkit::getImageSize(file);
        target = fitSize(QSize(static_cast<int>(width), static_cast<int>(height)), box);
        const uint32_t d = jpegThumbnailReduction(width, height, box);
        // TurboJPEG rounds reduced sizes up; asking for exactly that size selects the reduction 1/d.
        decoded = vexkit::decodeJpegAtLeast(file, (width + d - 1) / d, (height + d - 1) / d);
    } else {
        decoded = decodeFull(file);
        target = fitSize(QSize(static_cast<int>(decoded.width()), static_cast<int>(decoded.height())), box);
    }
    // Scaling the image before any pixmap exists converts only the small result.
    return wrapRgb(decoded).scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QIcon makeQIcon(const char* file, QSize size) {
    return QIcon(QPixmap::fromImage(makeThumbnail(file, size)));
}

QImage makeFullDecodeThumbnail(const char* file, QSize box) {
    return fullDecodeScaled(file, box).toImage();
}

QIcon makeFullDecodeQIcon(const char* file, QSize size) {
    return QIcon(fullDecodeScaled(file, size));
}

QIcon makeQIcon(const unsigned char* data, unsigned long long length, const char* format, QSize size) {
    QPixmap pixmap;
    const bool success = length <= static_cast<unsigned long long>(std::numeric_limits<uint>::max()) &&
                         pixmap.loadFromData(data, static_cast<uint>(length), format);
    DASH_ASSERT(success);
    return QIcon(pixmap.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}
