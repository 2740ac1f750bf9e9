// Loading one file; kept apart from the pool logic so that the loader can be replaced in tests and
// benchmarks.
#include "metadata/parseExif.h"
#include "project/LoadImages.h"
#include "project/Thumbnail.h"
#include "vexkit/ThreadPool.h"

std::unique_ptr<Image> loadImage(const char* file) {
    return loadImage(file, &makeQIcon);
}

std::unique_ptr<Image> loadImage(const char* file, ThumbnailMaker makeIcon) {
    auto image = std::make_unique<Image>();
    image->file = file;
    image->meta = parseExif(file);
    image->md5 = vexkit::md5sum(file);
    image->icon = makeIcon(file, kThumbnailSize);
    return image;
}

std::vector<std::unique_ptr<Image>> loadImages(const std::vector<std::string>& files,
                                               const LoadProgress& progress) {
    return loadImages(threadPool, files, progress, [](const char* file) { return loadImage(file); });
}
