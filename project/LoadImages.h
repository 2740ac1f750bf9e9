#pragma once
// Loading many image files at once on a worker pool: metadata, content digest and thumbnail per file.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QIcon>
#include <QSize>

#include "project/Image.h"

class ThreadPool;

// Called on the calling thread once per file, in file order, after that file's image is ready:
// (index, number of files).
using LoadProgress = std::function<void(unsigned, unsigned long long)>;
// Loads one file; runs on a worker thread.
using ImageLoader = std::function<std::unique_ptr<Image>(const char* file)>;

// How the caller waits until the next file's image is ready; empty blocks. `ready` is true once it is.
using LoadWait = std::function<void(const std::function<bool()>& ready)>;

// Result i belongs to files[i]. One pool task per file; the first failure in file order is rethrown
// (after progress for the files before it only) and nothing partial is returned. Tasks of later files
// still run and their results are dropped. Throws std::runtime_error("the pool has been stopped") when
// the pool no longer takes work. `finished` runs on the worker after each file's result is set.
std::vector<std::unique_ptr<Image>> loadImages(ThreadPool& pool, const std::vector<std::string>& files,
                                               const LoadProgress& progress, const ImageLoader& loader,
                                               const LoadWait& wait = {},
                                               const std::function<void()>& finished = {});

// One file of a batch that goes on past failures: its image, or why it did not load.
struct LoadOutcome {
    std::string file;  // as given
    std::unique_ptr<Image> image;
    std::string failure;  // describeImageFailure's text; empty when the image loaded
};

// As loadImages, but a file that fails keeps its reason in its outcome while the others load, and the
// caller waits with the event loop running without user input, so that the window repaints, timers fire
// and progress shows while the workers load; needs the application object.
std::vector<LoadOutcome> loadEachResponsive(ThreadPool& pool, const std::vector<std::string>& files,
                                            const LoadProgress& progress, const ImageLoader& loader);
// The images of a batch that must load whole; throws naming the first file that did not, and why.
std::vector<std::unique_ptr<Image>> requireAll(std::vector<LoadOutcome> outcomes);

// The same on the process-wide pool with loadImage.
std::vector<std::unique_ptr<Image>> loadImages(const std::vector<std::string>& files,
                                               const LoadProgress& progress);

// Reads the file's metadata, hashes its content and makes its thumbnail. Throws the reader's and the
// metadata parser's errors for unreadable or unsupported files.
std::unique_ptr<Image> loadImage(const char* file);
// The same with another way of making the thumbnail (the full-decode reference, for comparisons).
using ThumbnailMaker = QIcon (*)(const char* file, QSize size);
std::unique_ptr<Image> loadImage(const char* file, ThumbnailMaker makeIcon);
