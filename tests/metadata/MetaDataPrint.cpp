#include "tests/metadata/MetaDataPrint.h"

#include <sstream>

namespace {

// Declared first: the record operators below print their optional members through it, and it prints them.
template <typename T>
void put(std::ostream& os, const char* name, const std::optional<T>& value);

template <size_t n>
std::ostream& operator<<(std::ostream& os, const std::array<float, n>& values) {
    os << '(';
    for (size_t i = 0; i < n; ++i) {
        os << (i ? ", " : "") << values[i];
    }
    return os << ')';
}

std::ostream& operator<<(std::ostream& os, const ImgMetaData::Attitude& a) {
    return os << "(roll " << a.roll << ", pitch " << a.pitch << ", yaw " << a.yaw << ')';
}

std::ostream& operator<<(std::ostream& os, const ImgMetaData::GPS& g) {
    os << (g.source == ImgMetaData::GPS::Source::kXMP ? "XMP " : "EXIF ") << g.latitude << ", " << g.longitude
       << ", " << g.altitude;
    put(os, "rtkFlag", g.rtkFlag);
    put(os, "rtkStd", g.rtkStd);
    return os;
}

template <typename T>
void put(std::ostream& os, const char* name, const std::optional<T>& value) {
    os << ' ' << name << '=';
    if (value) {
        os << *value;
    } else {
        os << '-';
    }
}

}  // namespace

std::string describe(const ImgMetaData& m) {
    std::ostringstream os;
    os.precision(9);
    os << m.width << 'x' << m.height;
    put(os, "focal", m.focal);
    put(os, "center", m.center);
    put(os, "distortion", m.distortion);
    put(os, "gps", m.gps);
    put(os, "relativeAltitude", m.relativeAltitude);
    put(os, "flight", m.flightAttitude);
    put(os, "gimbal", m.gimbalAttitude);
    put(os, "speed", m.flightSpeed);
    os << " hasBaro=" << m.hasBaro;
    return os.str();
}

bool operator==(const ImgMetaData::GPS& a, const ImgMetaData::GPS& b) {
    return a.source == b.source && a.latitude == b.latitude && a.longitude == b.longitude &&
           a.altitude == b.altitude && a.rtkFlag == b.rtkFlag && a.rtkStd == b.rtkStd;
}
