#include "tests/model/KsmWriter.h"

#include <cstring>
#include <sstream>

namespace kxtest {
namespace {

class Out {
public:
    Out(std::ostream& out, bool littleEndian) : mOut(out), mLittle(littleEndian) {}

    // Writes the number's bytes, least significant first when little-endian.
    template <typename T>
    void num(T v) {
        unsigned char raw[sizeof(T)];
        std::memcpy(raw, &v, sizeof v);
        uint64_t bits = 0;
        for (size_t i = 0; i < sizeof v; ++i) {  // host order to value, whatever the host
            bits |= uint64_t(raw[i]) << (8 * (hostLittle() ? i : sizeof v - 1 - i));
        }
        char bytes[sizeof(T)];
        for (size_t i = 0; i < sizeof v; ++i) {
            const size_t shift = 8 * (mLittle ? i : sizeof v - 1 - i);
            bytes[i] = static_cast<char>((bits >> shift) & 0xff);
        }
        mOut.write(bytes, sizeof bytes);
    }
    void count(size_t n) { num<uint64_t>(n); }
    void vec(const kxsfm::Vec2<float>& v) { num(v.x), num(v.y); }
    void vec(const kxsfm::Vec2<uint32_t>& v) { num(v.x), num(v.y); }
    void vec(const kxsfm::Vec3<float>& v) { num(v.x), num(v.y), num(v.z); }

private:
    std::ostream& mOut;
    bool mLittle;
    static bool hostLittle() {
        const uint16_t one = 1;
        unsigned char b;
        std::memcpy(&b, &one, 1);
        return b == 1;
    }
};

}  // namespace

void writeKsm(std::ostream& os, const ksm::Model<1u>& m, const KsmHeader& header) {
    Out le(os, true);
    le.num(header.magic);
    le.num(header.version);
    os.put(header.littleEndian ? 1 : 0);
    Out o(os, header.littleEndian);
    o.count(m.poses.size());
    for (const kxsfm::Pose& p : m.poses) {
        o.num(p.rotation.w), o.num(p.rotation.x), o.num(p.rotation.y), o.num(p.rotation.z);
        o.vec(p.centre), o.vec(p.extra);
    }
    o.count(m.cameras.size());
    for (const kxsfm::RealCamera& c : m.cameras) {
        o.vec(c.focal), o.vec(c.principal);
        for (float f : c.extra) {
            o.num(f);
        }
    }
    o.count(m.cameraImageSizes.size());
    for (const auto& s : m.cameraImageSizes) {
        o.vec(s);
    }
    o.count(m.points.size());
    for (const auto& p : m.points) {
        o.vec(p);
    }
    o.count(m.colors.size());
    for (const kxsfm::Color& c : m.colors) {
        o.num(c.r), o.num(c.g), o.num(c.b);
    }
    o.count(m.captures.size());
    for (const ksm::Capture& c : m.captures) {
        o.num(c.cameraIdx), o.num(c.poseIdx);
        o.count(c.measurements.size());
        for (const ksm::Measurement& ms : c.measurements) {
            o.num(ms.pointIdx), o.vec(ms.extra);
        }
        o.count(c.imagePath.size());
        os.write(c.imagePath.data(), static_cast<std::streamsize>(c.imagePath.size()));
        for (uint32_t w : c.imageDigest) {
            o.num(w);
        }
    }
}

std::string ksmBytes(const ksm::Model<1u>& model, const KsmHeader& header) {
    std::ostringstream os;
    writeKsm(os, model, header);
    return os.str();
}

}  // namespace kxtest
