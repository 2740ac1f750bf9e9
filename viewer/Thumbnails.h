#pragma once
// Decoding of capture photographs into small images for the frustums, off the GUI thread.
#include <future>

#include <QImage>
#include <QString>

namespace viewer {

// Height of the thumbnails drawn on the image planes.
constexpr int kThumbnailHeight = 120;

// Queues the decode of `path` on the process-wide pool; the future yields an RGB image kThumbnailHeight
// pixels high, or holds the reader's exception for a file that cannot be decoded.
std::shared_future<QImage> queueThumbnail(const QString& path);

// The decode itself (run by the pool): JPEG files are decoded scaled in the DCT, others in full.
QImage decodeThumbnail(const QString& path);

}  // namespace viewer
