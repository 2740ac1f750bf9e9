#pragma once
// JPEG files: size from the header, pixels through TurboJPEG, metadata through exiv2.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include <exiv2/exif.hpp>
#include <exiv2/xmp_exiv2.hpp>

#include "vexkit/ImageT.h"

namespace vexkit {

class JpegImageReader {
public:
    // Asserts a ".jpg" or ".jpeg" extension; forgets the size and metadata of the previous file.
    void setFile(const char* path);
    // Measured from the header alone; Boost.GIL's errors pass through ("file_stream_device: failed to open
    // file for reading", "jpeg is invalid.", "Image file is not supported.").
    uint32_t getWidth() const;
    uint32_t getHeight() const;
    // Copies of the blocks exiv2 read from the file; exiv2's errors pass through.
    Exiv2::ExifData getExifData() const;
    Exiv2::XmpData getXmpData() const;
    // Accurate-DCT RGB decode; the TurboJPEG header must agree with the measured size.
    Image8UC3 decodeTo8UC3() const;

private:
    struct MetaData {
        Exiv2::ExifData exif;
        Exiv2::XmpData xmp;
    };
    void loadShape() const;
    void loadMetaData() const;

    std::string mPath;
    mutable std::optional<std::pair<uint32_t, uint32_t>> mShape;
    mutable std::optional<MetaData> mMetaData;
};

}  // namespace vexkit
