#pragma once
// Readable printing of metadata records in test failures, and their comparison as text.
#include <sstream>
#include <string>

#include "metadata/ImgMetaData.h"

namespace metadata_print {

template <size_t n>
std::ostream& operator<<(std::ostream& os, const std::array<float, n>& values) {
    for (float value : values) {
        os << value << ' ';
    }
    return os;
}

inline std::ostream& operator<<(std::ostream& os, const ImgMetaData::Attitude& a) {
    return os << a.roll << ' ' << a.pitch << ' ' << a.yaw;
}

// Declared first: a position prints its optional members through it, and it prints positions.
template <typename T>
std::ostream& operator<<(std::ostream& os, const std::optional<T>& value);

inline std::ostream& operator<<(std::ostream& os, const ImgMetaData::GPS& g) {
    return os << int(g.source) << ' ' << g.latitude << ' ' << g.longitude << ' ' << g.altitude << " rtk "
              << g.rtkFlag << ' ' << g.rtkStd;
}

template <typename T>
std::ostream& operator<<(std::ostream& os, const std::optional<T>& value) {
    return value ? os << '(' << *value << ')' : os << '-';
}

}  // namespace metadata_print

// Every field, to nine significant digits (exact for the single-precision ones).
inline std::string describe(const ImgMetaData& m) {
    using namespace metadata_print;
    std::ostringstream os;
    os.precision(9);
    os << m.width << 'x' << m.height << " focal " << m.focal << " center " << m.center << " distortion "
       << m.distortion << " gps " << m.gps << " relativeAltitude " << m.relativeAltitude << " flight "
       << m.flightAttitude << " gimbal " << m.gimbalAttitude << " speed " << m.flightSpeed << " hasBaro "
       << m.hasBaro;
    return os.str();
}

inline bool operator==(const ImgMetaData::GPS& a, const ImgMetaData::GPS& b) {
    return a.source == b.source && a.latitude == b.latitude && a.longitude == b.longitude &&
           a.altitude == b.altitude && a.rtkFlag == b.rtkFlag && a.rtkStd == b.rtkStd;
}
