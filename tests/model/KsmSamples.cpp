#include "tests/model/KsmSamples.h"

#include <random>
#include <sstream>

#include "model/KsmWriter.h"

namespace kxtest {

ksm::Model<1u> makeKsmModel(const KsmShape& shape, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> real(-1000.f, 1000.f);
    std::uniform_int_distribution<uint32_t> word;
    auto vec2 = [&] { return kxsfm::Vec2<float>{real(rng), real(rng)}; };
    auto vec3 = [&] { return kxsfm::Vec3<float>{real(rng), real(rng), real(rng)}; };
    auto index = [&](size_t n) { return n ? word(rng) % static_cast<uint32_t>(n) : word(rng); };

    ksm::Model<1u> m;
    for (size_t i = 0; i < shape.nbPoses; ++i) {
        m.poses.push_back({{real(rng), real(rng), real(rng), real(rng)}, vec3(), vec3()});
    }
    for (size_t i = 0; i < shape.nbCameras; ++i) {
        kxsfm::RealCamera c{vec2(), vec2(), {}};
        for (float& f : c.extra) {
            f = real(rng);
        }
        m.cameras.push_back(c);
        m.cameraImageSizes.push_back({word(rng), word(rng)});
    }
    m.points.reserve(shape.nbPoints);
    m.colors.reserve(shape.nbPoints);
    for (size_t i = 0; i < shape.nbPoints; ++i) {
        m.points.push_back(vec3());
        const uint32_t w = word(rng);
        m.colors.push_back({uint8_t(w), uint8_t(w >> 8), uint8_t(w >> 16)});
    }
    for (size_t i = 0; i < shape.nbCaptures; ++i) {
        ksm::Capture c;
        c.cameraIdx = index(shape.nbCameras);
        c.poseIdx = index(shape.nbPoses);
        c.measurements.resize(shape.nbMeasurements);
        for (ksm::Measurement& ms : c.measurements) {
            ms = {index(shape.nbPoints), vec2()};
        }
        c.imagePath = shape.pathPrefix + std::to_string(i) + ".jpg";
        c.imageDigest = {word(rng), word(rng), word(rng), word(rng)};
        m.captures.push_back(std::move(c));
    }
    return m;
}

std::string ksmBytes(const ksm::Model<1u>& model, bool littleEndian) {
    std::ostringstream os;
    ksm::writeKsm(os, model, littleEndian ? ksm::ByteOrder::kLittle : ksm::ByteOrder::kBig);
    return os.str();
}

}  // namespace kxtest
