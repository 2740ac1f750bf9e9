#pragma once
// HEIF, HEIC and AVIF files through libheif: the primary image, its ispe size and its metadata blocks.
#include <cstdint>
#include <string>

#include <exiv2/exif.hpp>
#include <exiv2/xmp_exiv2.hpp>
#include <libheif/heif_cxx.h>

#include "vexkit/ImageT.h"

namespace vexkit {

// libheif failures are thrown as HeifError (vexkit/HeifError.h), which is also a heif::Error.
class HeifAvifImageReader {
public:
    HeifAvifImageReader() = default;
    // Asserts an ".avif", ".heif" or ".heic" extension, reads the file and keeps its primary image, which
    // must be its only top-level image. After a failure the reader holds no image until a file is read.
    void setFile(const char* path);
    // The primary image's ispe size: the stored size, before any rotation or crop.
    uint32_t getWidth() const;
    uint32_t getHeight() const;
    // The one Exif (or XMP) block of the primary image decoded by exiv2; empty without one, an assertion
    // failure with two or more.
    Exiv2::ExifData getExifData() const;
    Exiv2::XmpData getXmpData() const;
    // Interleaved 8-bit RGB in stored orientation (transform properties ignored, HDR reduced to 8 bits).
    Image8UC3 decodeTo8UC3() const;

private:
    const heif::ImageHandle& primary() const;

    std::string mPath;
    heif::Context mCtx;
    heif::ImageHandle mHandle;
};

}  // namespace vexkit
