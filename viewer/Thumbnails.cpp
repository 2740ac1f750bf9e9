#include "viewer/Thumbnails.h"

#include <stdexcept>

#include "vexkit/ImageReader.h"
#include "vexkit/JpegScaledDecode.h"

namespace viewer {

QImage decodeThumbnail(const QString& path) {
    const QByteArray local = path.toLocal8Bit();
    const vexkit::ImageFileType type = vexkit::imageFileTypeOf(local.constData());
    vexkit::Image8UC3 rgb;
    if (type == vexkit::ImageFileType::kJpeg) {
        rgb = vexkit::decodeJpegAtLeast(local.constData(), 1, kThumbnailHeight);
    } else {
        const auto reader = vexkit::createImageReader();
        reader->setFile(local.constData());
        rgb = reader->decodeTo8UC3();
    }
    if (rgb.empty()) {
        throw std::runtime_error("empty image");
    }
    const QImage wrapped(reinterpret_cast<const uchar*>(rgb.data()), int(rgb.width()), int(rgb.height()),
                         int(rgb.width()) * 3, QImage::Format_RGB888);
    // scaledToHeight copies, so the result outlives the decoded pixels.
    return wrapped.scaledToHeight(kThumbnailHeight, Qt::SmoothTransformation);
}

}  // namespace viewer
