#include "tests/metadata/MetaDataPrint.h"

#include <sstream>

namespace {

template <size_t n>
std::ostream& operator<<(std::ostream& os, const std::array<float, n>& values) {
    for (float value : values) {
        os << value << ' ';
    }
    return os;
}

std::ostream& operator<<(std::ostream& os, const ImgMetaData::Attitude& a) {
    return os << a.roll << ' ' << a.pitch << ' ' << a.yaw;
}

// Declared first: a position prints its optional members through it, and it prints positions.
template <typename T>
std::ostream& operator<<(std::ostream& os, const std::optional<T>& value);

std::ostream& operator<<(std::ostream& os, const ImgMetaData::GPS& g) {
    return os << int(g.source) << ' ' << g.latitude << ' ' << g.longitude << ' ' << g.altitude << " rtk "
              << g.rtkFlag << ' ' << g.rtkStd;
}

template <typename T>
std::ostream& operator<<(std::ostream& os, const std::optional<T>& value) {
    return value ? os << '(' << *value << ')' : os << '-';
}

}  // namespace

std::string describe(const ImgMetaData& m) {
    std::ostringstream os;
    os.precision(9);
    os << m.width << 'x' << m.height << " focal " << m.focal << " center " << m.center << " distortion "
       << m.distortion << " gps " << m.gps << " relativeAltitude " << m.relativeAltitude << " flight "
       << m.flightAttitude << " gimbal " << m.gimbalAttitude << " speed " << m.flightSpeed << " hasBaro "
       << m.hasBaro;
    return os.str();
}

bool operator==(const ImgMetaData::GPS& a, const ImgMetaData::GPS& b) {
    return a.source == b.source && a.latitude == b.latitude && a.longitude == b.longitude &&
           a.altitude == b.altitude && a.rtkFlag == b.rtkFlag && a.rtkStd == b.rtkStd;
}
