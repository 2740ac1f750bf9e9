#pragma once
// Private to metadata/: the readers behind parseExif over one image's decoded EXIF and XMP blocks.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include <exiv2/exif.hpp>
#include <exiv2/xmp_exiv2.hpp>

#include "metadata/DewarpData.h"
#include "metadata/ImgMetaData.h"

enum class AttitudeOwner { kFlight = 0, kGimbal = 1 };

class ExifParser {
public:
    ExifParser(uint32_t width, uint32_t height, Exiv2::ExifData exif, Exiv2::XmpData xmp);

    // fx, fy in pixels: from the dewarp data, the calibrated focal length, or the 35 mm equivalent.
    std::optional<std::array<float, 2>> getFocalLength() const;
    // The calibrated optical centre plus the dewarp offsets, else the image centre.
    std::array<float, 2> getDesignOpticalCenter() const;
    // Absent without the key; malformed text is an error (see parseExif.h).
    std::optional<DewarpData> getDewarpData() const;
    template <ImgMetaData::GPS::Source source>
    std::optional<ImgMetaData::GPS> getGPSImpl() const;
    std::optional<float> getRelativeAltitude() const;
    template <AttitudeOwner owner>
    std::optional<ImgMetaData::Attitude> getAttitudeImpl() const;
    std::optional<std::array<float, 3>> getFlightSpeed() const;
    // The camera make is exactly "DJI", whose altitudes are barometric.
    bool hasBaro() const;
    // The EXIF make and model joined by a space; the model alone when it already starts with the make.
    std::string getCamera() const;

private:
    // One value by key, converted on a copy of it; absent when the key is; assertion "val.ok()" when the
    // conversion fails.
    std::optional<float> xmpFloat(const Exiv2::XmpKey& key) const;
    std::optional<long> xmpLong(const Exiv2::XmpKey& key) const;
    std::optional<std::string> xmpString(const Exiv2::XmpKey& key) const;
    std::optional<float> exifFloat(const Exiv2::ExifKey& key) const;
    std::optional<std::string> exifString(const Exiv2::ExifKey& key) const;
    // Three XMP floats, absent unless all three are present.
    std::optional<std::array<float, 3>> xmpTriple(const Exiv2::XmpKey& a, const Exiv2::XmpKey& b,
                                                  const Exiv2::XmpKey& c) const;
    // Degrees from an EXIF reference and degrees/minutes/seconds; absent unless both are well formed.
    std::optional<float> exifCoordinate(const Exiv2::ExifKey& refKey, const Exiv2::ExifKey& key,
                                        char positive, char negative) const;
    std::optional<float> exifAltitude() const;

    uint32_t mWidth;
    uint32_t mHeight;
    Exiv2::ExifData mExif;
    Exiv2::XmpData mXmp;
};
