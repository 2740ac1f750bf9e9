#pragma once
// Decoding of capture photographs into small images for the frustums.
#include <QImage>
#include <QString>

namespace viewer {

// Height of the thumbnails drawn on the image planes.
constexpr int kThumbnailHeight = 120;

// An RGB image kThumbnailHeight pixels high, run on the thread pool: JPEG files are decoded scaled in
// the DCT, others in full. Throws the reader's exception for a file that cannot be decoded.
QImage decodeThumbnail(const QString& path);

}  // namespace viewer
