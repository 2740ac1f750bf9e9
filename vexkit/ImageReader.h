#pragma once
// The reader callers use for every photograph: it dispatches by file type to the JPEG or HEIF/AVIF reader.
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>

#include "vexkit/IImageReader.h"

namespace vexkit {

class HeifAvifImageReader;
class JpegImageReader;

// Each inner reader is made on first use and kept for later files of its kind. Assertion failures print with
// the unit "ImageReader"; an unknown ImageFileType throws vexkit::Exception("You should never reach here\n").
class ImageReader : public IImageReader {
public:
    ImageReader();
    ~ImageReader() override;

    void setFile(const char* path) override;
    void setFile(const char* path, ImageFileType type) override;
    uint32_t getWidth() const override;
    uint32_t getHeight() const override;
    Exiv2::XmpData getXmpData() const override;
    Exiv2::ExifData getExifData() const override;
    Image8UC3 decodeTo8UC3() const override;

private:
    HeifAvifImageReader& heifReader() const;
    JpegImageReader& jpegReader() const;
    template <typename F>
    auto dispatch(F&& f) const;

    mutable std::unique_ptr<HeifAvifImageReader> mHeifReader;
    mutable std::unique_ptr<JpegImageReader> mJpegReader;
    ImageFileType mType = ImageFileType::kJpeg;
};

// A new reader with no inner reader yet.
std::unique_ptr<IImageReader> createImageReader();

// The type that a path's extension names, in any letter case; std::runtime_error("unknown image file type")
// otherwise.
ImageFileType imageFileTypeOf(const char* path);

// The largest image the readers accept, in pixels: 400 megapixels, well above the photographs of any camera.
// A header claiming more is refused before any pixel memory is allocated, so a forged file cannot make a
// decode ask for gigabytes.
constexpr uint64_t kMaxImagePixels = 400'000'000;
// Throws std::runtime_error("the image is <w> x <h> pixels, more than the 400 megapixels this program
// reads") when width x height exceeds kMaxImagePixels. Measuring and decoding a file both check it.
void checkImagePixels(uint32_t width, uint32_t height);

// Width and height of an image file without decoding it (the JPEG header, or the HEIF primary image's ispe);
// the same errors as the readers.
std::pair<uint32_t, uint32_t> getImageSize(const char* path);

// Sets up exiv2's XMP parser with a lock function and registers the "drone-dji" prefix, once per process
// whatever the number of threads that call it; later callers wait until it is done.
void initXmpParserOnce();

// The lock of the XMP toolkit. Decoding a packet (also inside exiv2's readMetadata) must hold it: the
// toolkit's parser registers namespaces in process-wide tables without a lock of its own.
std::recursive_mutex& xmpToolkitMutex();

}  // namespace vexkit
