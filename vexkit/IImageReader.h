#pragma once
// The one interface through which callers open photographs, whatever their format.
#include <cstdint>

#include <exiv2/exif.hpp>
#include <exiv2/xmp_exiv2.hpp>

#include "vexkit/ImageT.h"

namespace vexkit {

// File formats the reader understands; ".heif" and ".heic" are both kHeif.
enum class ImageFileType : uint8_t { kJpeg = 0, kAvif = 1, kHeif = 2 };

// A reader for one file at a time, used by one thread at a time. Errors are exceptions: see ImageReader.h.
class IImageReader {
public:
    virtual ~IImageReader() = default;
    // Picks the format from the extension (any letter case); std::runtime_error("unknown image file type")
    // for anything else.
    virtual void setFile(const char* path) = 0;
    virtual void setFile(const char* path, ImageFileType type) = 0;
    virtual uint32_t getWidth() const = 0;
    virtual uint32_t getHeight() const = 0;
    virtual Exiv2::XmpData getXmpData() const = 0;
    virtual Exiv2::ExifData getExifData() const = 0;
    // The stored pixels as RGB; no orientation tag or transform property is applied.
    virtual Image8UC3 decodeTo8UC3() const = 0;
};

}  // namespace vexkit
