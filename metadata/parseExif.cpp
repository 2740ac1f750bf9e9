// One image's optics, position, attitude and speed from its EXIF block and its "drone-dji" XMP properties.
#include "metadata/parseExif.h"

#include <cmath>
#include <memory>
#include <utility>

#include <boost/lexical_cast.hpp>

#include "metadata/ExifParser.h"
#include "vexkit/Assert.h"
#include "vexkit/ImageReader.h"

using Source = ImgMetaData::GPS::Source;

// The readers for each source and owner, defined further down.
template <>
std::optional<ImgMetaData::GPS> ExifParser::getGPSImpl<Source::kXMP>() const;
template <>
std::optional<ImgMetaData::GPS> ExifParser::getGPSImpl<Source::kExif>() const;
template <>
std::optional<ImgMetaData::Attitude> ExifParser::getAttitudeImpl<AttitudeOwner::kFlight>() const;
template <>
std::optional<ImgMetaData::Attitude> ExifParser::getAttitudeImpl<AttitudeOwner::kGimbal>() const;

ImgMetaData parseExif(const char* path) {
    ImgMetaData meta;
    {
        const std::unique_ptr<vexkit::IImageReader> reader = vexkit::createImageReader();
        reader->setFile(path);
        Exiv2::XmpData xmp = reader->getXmpData();
        Exiv2::ExifData exif = reader->getExifData();
        meta.height = reader->getHeight();
        meta.width = reader->getWidth();
        // The keys below need the XMP set-up even for a file that had no XMP to decode.
        vexkit::initXmpParserOnce();
        const ExifParser parser(meta.width, meta.height, std::move(exif), std::move(xmp));
        meta.focal = parser.getFocalLength();
        meta.center = parser.getDesignOpticalCenter();
        if (const std::optional<DewarpData> dewarp = parser.getDewarpData()) {
            const auto& v = dewarp->values;
            meta.distortion = std::array<float, 5>{v[DewarpData::kK1], v[DewarpData::kK2], v[DewarpData::kP1],
                                                   v[DewarpData::kP2], v[DewarpData::kK3]};
        }
        meta.gps = parser.getGPSImpl<Source::kXMP>();
        if (!meta.gps) {
            meta.gps = parser.getGPSImpl<Source::kExif>();
        }
        meta.relativeAltitude = parser.getRelativeAltitude();
        meta.flightAttitude = parser.getAttitudeImpl<AttitudeOwner::kFlight>();
        meta.gimbalAttitude = parser.getAttitudeImpl<AttitudeOwner::kGimbal>();
        meta.flightSpeed = parser.getFlightSpeed();
        meta.hasBaro = parser.hasBaro();
        meta.camera = parser.getCamera();
    }
    return meta;
}

ExifParser::ExifParser(uint32_t width, uint32_t height, Exiv2::ExifData exif, Exiv2::XmpData xmp)
    : mWidth(width), mHeight(height), mExif(std::move(exif)), mXmp(std::move(xmp)) {}

std::optional<float> ExifParser::getRelativeAltitude() const {
    static const Exiv2::XmpKey key("Xmp.drone-dji.RelativeAltitude");
    return mXmp.empty() ? std::nullopt : xmpFloat(key);
}

bool ExifParser::hasBaro() const {
    static const Exiv2::XmpKey xmpMakeKey("Xmp.tiff.Make");
    static const Exiv2::ExifKey exifMakeKey("Exif.Image.Make");
    bool baro = false;
    if (!mXmp.empty()) {
        baro = xmpString(xmpMakeKey) == std::optional<std::string>("DJI");
    }
    if (!baro && !mExif.empty()) {
        baro = exifString(exifMakeKey) == std::optional<std::string>("DJI");
    }
    return baro;
}

std::string ExifParser::getCamera() const {
    static const Exiv2::ExifKey makeKey("Exif.Image.Make");
    static const Exiv2::ExifKey modelKey("Exif.Image.Model");
    if (mExif.empty()) {
        return {};
    }
    // Cameras pad these texts with blanks to a fixed length.
    const auto trimmed = [](const std::optional<std::string>& text) {
        const size_t begin = text ? text->find_first_not_of(" \t") : std::string::npos;
        return begin == std::string::npos ? std::string()
                                          : text->substr(begin, text->find_last_not_of(" \t") + 1 - begin);
    };
    const std::string make = trimmed(exifString(makeKey));
    const std::string model = trimmed(exifString(modelKey));
    if (make.empty() || model.compare(0, make.size(), make) == 0) {
        return model;
    }
    return model.empty() ? make : make + " " + model;
}

std::optional<float> ExifParser::exifCoordinate(const Exiv2::ExifKey& refKey, const Exiv2::ExifKey& key,
                                                char positive, char negative) const {
    const auto refPos = mExif.findKey(refKey);
    const auto pos = mExif.findKey(key);
    // An empty reference is no hemisphere (and has no first character to read).
    if (refPos == mExif.end() || pos == mExif.end() || refPos->count() == 0 || pos->count() != 3) {
        return std::nullopt;
    }
    const long ref = refPos->toLong(0);
    if (ref != positive && ref != negative) {
        return std::nullopt;
    }
    const double degrees =
        double(pos->toFloat(0)) + double(pos->toFloat(1)) / 60 + double(pos->toFloat(2)) / 3600;
    return static_cast<float>(ref == positive ? degrees : -degrees);
}

std::optional<std::array<float, 2>> ExifParser::getFocalLength() const {
    if (!mXmp.empty()) {
        if (const std::optional<DewarpData> dewarp = getDewarpData()) {
            return std::array<float, 2>{dewarp->values[DewarpData::kFx], dewarp->values[DewarpData::kFy]};
        }
        static const Exiv2::XmpKey calibratedKey("Xmp.drone-dji.CalibratedFocalLength");
        if (const std::optional<float> f = xmpFloat(calibratedKey)) {
            return std::array<float, 2>{*f, *f};
        }
    }
    if (!mExif.empty()) {
        static const Exiv2::ExifKey focal35Key("Exif.Photo.FocalLengthIn35mmFilm");
        const std::optional<float> f35 = exifFloat(focal35Key);
        if (f35 && *f35 > 0) {
            // Scale the 35 mm equivalent by the ratio of the diagonals: 1872 mm^2 = 36^2 + 24^2.
            const uint64_t diagonal2 = uint64_t(mWidth) * mWidth + uint64_t(mHeight) * mHeight;
            const float f = static_cast<float>(*f35 * std::sqrt(double(diagonal2) / 1872.0));
            return std::array<float, 2>{f, f};
        }
    }
    return std::nullopt;
}

std::array<float, 2> ExifParser::getDesignOpticalCenter() const {
    if (!mXmp.empty()) {
        static const Exiv2::XmpKey xKey("Xmp.drone-dji.CalibratedOpticalCenterX");
        static const Exiv2::XmpKey yKey("Xmp.drone-dji.CalibratedOpticalCenterY");
        const std::optional<float> cx = xmpFloat(xKey);
        const std::optional<float> cy = xmpFloat(yKey);
        if (cx && cy) {
            std::array<float, 2> center{*cx, *cy};
            if (const std::optional<DewarpData> dewarp = getDewarpData()) {
                center[0] += dewarp->values[DewarpData::kCxOffset];
                center[1] += dewarp->values[DewarpData::kCyOffset];
            }
            return center;
        }
    }
    return {float(mWidth) * 0.5f, float(mHeight) * 0.5f};
}

std::optional<DewarpData> ExifParser::getDewarpData() const {
    static const Exiv2::XmpKey key("Xmp.drone-dji.DewarpData");
    if (mXmp.empty()) {
        return std::nullopt;
    }
    const std::optional<std::string> dewarpData = xmpString(key);
    if (!dewarpData) {
        return std::nullopt;
    }
    // "<date>;fx,fy,cx,cy,k1,k2,p1,p2,k3": whatever precedes the first ';' is skipped.
    const size_t semicolon = dewarpData->find(';');
    size_t pos = semicolon == std::string::npos ? 0 : semicolon + 1;
    DewarpData dewarp;
    for (float& value : dewarp.values) {
        // A text with fewer than nine fields runs past its end here, whether or not it ends with a ','.
        VEXKIT_ASSERT(pos < dewarpData->size());
        const size_t beg = pos;
        pos = std::min(dewarpData->find(',', beg), dewarpData->size());
        VEXKIT_ASSERT(pos > beg);
        value = boost::lexical_cast<float>(dewarpData->data() + beg, pos - beg);
        ++pos;
    }
    return dewarp;
}

std::optional<std::array<float, 3>> ExifParser::xmpTriple(const Exiv2::XmpKey& a, const Exiv2::XmpKey& b,
                                                          const Exiv2::XmpKey& c) const {
    const std::optional<float> x = xmpFloat(a);
    const std::optional<float> y = xmpFloat(b);
    const std::optional<float> z = xmpFloat(c);
    if (!x || !y || !z) {
        return std::nullopt;
    }
    return std::array<float, 3>{*x, *y, *z};
}

template <>
std::optional<ImgMetaData::Attitude> ExifParser::getAttitudeImpl<AttitudeOwner::kGimbal>() const {
    if (mXmp.empty()) {
        return std::nullopt;
    }
    static const Exiv2::XmpKey reverseKey("Xmp.drone-dji.GimbalReverse");
    static const Exiv2::XmpKey rollKey("Xmp.drone-dji.GimbalRollDegree");
    static const Exiv2::XmpKey pitchKey("Xmp.drone-dji.GimbalPitchDegree");
    static const Exiv2::XmpKey yawKey("Xmp.drone-dji.GimbalYawDegree");
    // Angles of a gimbal mounted upside down mean something else: refuse them rather than misread them.
    const std::optional<long> gimbalReverse = xmpLong(reverseKey);
    VEXKIT_ASSERT(!gimbalReverse.has_value() || gimbalReverse.value() == 0);
    const std::optional<std::array<float, 3>> angles = xmpTriple(rollKey, pitchKey, yawKey);
    if (!angles) {
        return std::nullopt;
    }
    return ImgMetaData::Attitude{(*angles)[0], (*angles)[1], (*angles)[2]};
}

template <>
std::optional<ImgMetaData::Attitude> ExifParser::getAttitudeImpl<AttitudeOwner::kFlight>() const {
    if (mXmp.empty()) {
        return std::nullopt;
    }
    static const Exiv2::XmpKey rollKey("Xmp.drone-dji.FlightRollDegree");
    static const Exiv2::XmpKey pitchKey("Xmp.drone-dji.FlightPitchDegree");
    static const Exiv2::XmpKey yawKey("Xmp.drone-dji.FlightYawDegree");
    const std::optional<std::array<float, 3>> angles = xmpTriple(rollKey, pitchKey, yawKey);
    if (!angles) {
        return std::nullopt;
    }
    return ImgMetaData::Attitude{(*angles)[0], (*angles)[1], (*angles)[2]};
}

namespace {
float toFloat(const Exiv2::Value& val) {
    return val.toFloat(0);
}
long toLong(const Exiv2::Value& val) {
    return val.toLong(0);
}
std::string toText(const Exiv2::Value& val) {
    return val.toString();
}

// Every checked value goes through here: a copy of the entry, its conversion, then the conversion's flag.
template <typename Metadata, typename Key, typename Convert>
auto readChecked(const Metadata& metadata, const Key& key, Convert convert)
    -> std::optional<decltype(convert(std::declval<const Exiv2::Value&>()))> {
    const auto pos = metadata.findKey(key);
    if (pos == metadata.end()) {
        return std::nullopt;
    }
    const auto copy = *pos;
    const Exiv2::Value& val = copy.value();
    auto result = convert(val);
    VEXKIT_ASSERT(val.ok());
    return result;
}

}  // namespace

std::optional<float> ExifParser::xmpFloat(const Exiv2::XmpKey& key) const {
    return readChecked(mXmp, key, toFloat);
}

std::optional<long> ExifParser::xmpLong(const Exiv2::XmpKey& key) const {
    return readChecked(mXmp, key, toLong);
}

std::optional<std::string> ExifParser::xmpString(const Exiv2::XmpKey& key) const {
    return readChecked(mXmp, key, toText);
}

std::optional<float> ExifParser::exifFloat(const Exiv2::ExifKey& key) const {
    return readChecked(mExif, key, toFloat);
}

std::optional<std::array<float, 3>> ExifParser::getFlightSpeed() const {
    static const Exiv2::XmpKey xKey("Xmp.drone-dji.FlightXSpeed");
    static const Exiv2::XmpKey yKey("Xmp.drone-dji.FlightYSpeed");
    static const Exiv2::XmpKey zKey("Xmp.drone-dji.FlightZSpeed");
    return mXmp.empty() ? std::nullopt : xmpTriple(xKey, yKey, zKey);
}

template <>
std::optional<ImgMetaData::GPS> ExifParser::getGPSImpl<Source::kXMP>() const {
    if (mXmp.empty()) {
        return std::nullopt;
    }
    static const Exiv2::XmpKey altitudeKey("Xmp.drone-dji.AbsoluteAltitude");
    static const Exiv2::XmpKey latitudeKey("Xmp.drone-dji.Latitude");
    static const Exiv2::XmpKey gpsLatitudeKey("Xmp.drone-dji.GpsLatitude");
    static const Exiv2::XmpKey longitudeKey("Xmp.drone-dji.Longitude");
    static const Exiv2::XmpKey gpsLongitudeKey("Xmp.drone-dji.GpsLongitude");
    static const Exiv2::XmpKey stdHgtKey("Xmp.drone-dji.RtkStdHgt");
    static const Exiv2::XmpKey stdLatKey("Xmp.drone-dji.RtkStdLat");
    static const Exiv2::XmpKey stdLonKey("Xmp.drone-dji.RtkStdLon");
    static const Exiv2::XmpKey flagKey("Xmp.drone-dji.RtkFlag");
    const std::optional<float> altitude = xmpFloat(altitudeKey);
    std::optional<float> latitude = xmpFloat(latitudeKey);
    if (!latitude) {
        latitude = xmpFloat(gpsLatitudeKey);
    }
    std::optional<float> longitude = xmpFloat(longitudeKey);
    if (!longitude) {
        longitude = xmpFloat(gpsLongitudeKey);
    }
    // RTK standard deviations in metres, kept in the order height, north, east.
    const std::optional<float> stdHgt = xmpFloat(stdHgtKey);
    const std::optional<float> stdLat = xmpFloat(stdLatKey);
    const std::optional<float> stdLon = xmpFloat(stdLonKey);
    const std::optional<long> flag = xmpLong(flagKey);
    std::optional<std::array<float, 3>> rtkStd;
    std::optional<int32_t> rtkFlag;
    if (stdHgt || stdLat || stdLon) {
        // A partial set is an error (std::bad_optional_access), not an accuracy to guess.
        rtkStd = std::array<float, 3>{stdHgt.value(), stdLat.value(), stdLon.value()};
        if (flag) {
            rtkFlag = static_cast<int32_t>(*flag);
        }
    }
    if (!latitude || !longitude || !altitude) {
        return std::nullopt;
    }
    return ImgMetaData::GPS{Source::kXMP, *latitude, *longitude, *altitude, rtkFlag, rtkStd};
}

std::optional<float> ExifParser::exifAltitude() const {
    static const Exiv2::ExifKey refKey("Exif.GPSInfo.GPSAltitudeRef");
    static const Exiv2::ExifKey altitudeKey("Exif.GPSInfo.GPSAltitude");
    const auto refPos = mExif.findKey(refKey);
    const auto pos = mExif.findKey(altitudeKey);
    if (refPos == mExif.end() || pos == mExif.end()) {
        return std::nullopt;
    }
    const long ref = refPos->toLong(0);
    VEXKIT_ASSERT((ref == 0 || ref == 1));
    const float altitude = pos->toFloat(0);
    return ref == 1 ? -altitude : altitude;
}

std::optional<std::string> ExifParser::exifString(const Exiv2::ExifKey& key) const {
    return readChecked(mExif, key, toText);
}

template <>
std::optional<ImgMetaData::GPS> ExifParser::getGPSImpl<Source::kExif>() const {
    static const Exiv2::XmpKey xmpAltitudeKey("Xmp.drone-dji.AbsoluteAltitude");
    static const Exiv2::ExifKey latRefKey("Exif.GPSInfo.GPSLatitudeRef");
    static const Exiv2::ExifKey latKey("Exif.GPSInfo.GPSLatitude");
    static const Exiv2::ExifKey lonRefKey("Exif.GPSInfo.GPSLongitudeRef");
    static const Exiv2::ExifKey lonKey("Exif.GPSInfo.GPSLongitude");
    std::optional<float> altitude;
    if (!mXmp.empty()) {
        altitude = xmpFloat(xmpAltitudeKey);
    }
    std::optional<float> latitude;
    std::optional<float> longitude;
    if (!mExif.empty()) {
        latitude = exifCoordinate(latRefKey, latKey, 'N', 'S');
        longitude = exifCoordinate(lonRefKey, lonKey, 'E', 'W');
    }
    if (!altitude) {
        try {
            altitude = exifAltitude();
        } catch (const std::exception&) {
            // Already printed; an unusable altitude only leaves the position incomplete.
        }
    }
    if (!latitude || !longitude || !altitude) {
        return std::nullopt;
    }
    return ImgMetaData::GPS{Source::kExif, *latitude, *longitude, *altitude, std::nullopt, std::nullopt};
}
