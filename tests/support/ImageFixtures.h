#pragma once
// Image files made by the tests themselves: JPEG, HEIC and AVIF of any size, with EXIF and XMP written
// through exiv2's own writing API (and libheif's metadata blocks for HEIF/AVIF).
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "vexkit/ImageT.h"

namespace kxtest {

// Metadata for a fixture: exiv2 keys with values in exiv2's text form ("47/1 30/1 36/1", "N", "+47.51").
struct ImageTags {
    std::vector<std::pair<std::string, std::string>> exif;
    std::vector<std::pair<std::string, std::string>> xmp;

    ImageTags& setExif(const std::string& key, const std::string& value);
    ImageTags& setXmp(const std::string& key, const std::string& value);
    ImageTags& exifMake(const std::string& make) { return setExif("Exif.Image.Make", make); }
    ImageTags& xmpMake(const std::string& make) { return setXmp("Xmp.tiff.Make", make); }
    ImageTags& focal35(int mm) { return setExif("Exif.Photo.FocalLengthIn35mmFilm", std::to_string(mm)); }
    // The EXIF GPS block: references from the signs, degrees/minutes/seconds as rationals (seconds to 1e-4),
    // altitude in millimetres with reference 0 above and 1 below sea level; no altitude tags when absent.
    ImageTags& exifGps(double latitude, double longitude, std::optional<double> altitude);
    // Drone XMP position: Xmp.drone-dji.GpsLatitude, GpsLongitude and AbsoluteAltitude with explicit signs.
    ImageTags& droneGps(double latitude, double longitude, double absoluteAltitude);
    bool empty() const { return exif.empty() && xmp.empty(); }
};

// A smooth pattern with gradients and soft stripes, so that lossy codecs keep it close.
vexkit::Image8UC3 makePattern(uint32_t width, uint32_t height);
// JPEG bytes of `image` through TurboJPEG (4:2:0, accurate DCT).
std::string encodeJpeg(const vexkit::Image8UC3& image, int quality = 92);

// Writes a JPEG of the pattern, then adds `tags` through exiv2 when there are any.
void writeJpeg(const std::filesystem::path& path, uint32_t width, uint32_t height,
               const ImageTags& tags = {});

struct HeifOptions {
    int nbTopLevelImages = 1;
    // Stores "Exif\0\0" before the TIFF header, as phones do.
    bool exifHeaderPrefix = false;
};

// Writes a HEIC (HEVC; ".heic" or ".heif") or AVIF (AV1; ".avif") file of the pattern. Use even sides of at
// least 64 pixels. Throws std::runtime_error when libheif refuses.
void writeHeif(const std::filesystem::path& path, uint32_t width, uint32_t height, const ImageTags& tags = {},
               const HeifOptions& options = {});

// Peak signal-to-noise ratio in dB over all channels (infinity for identical images); the sizes must match.
double psnr(const vexkit::Image8UC3& a, const vexkit::Image8UC3& b);
// Area-weighted mean of `image` over a width x height grid: the reference for decoders that scale in the DCT.
vexkit::Image8UC3 shrinkByAveraging(const vexkit::Image8UC3& image, uint32_t width, uint32_t height);

// The EXIF block of `tags` as TIFF bytes, and the XMP packet, both encoded by exiv2.
std::string encodeExifTiff(const ImageTags& tags);
std::string encodeXmpPacket(const ImageTags& tags);

}  // namespace kxtest
