#pragma once
// Sparse models made from a seed, for tests, seeds of the fuzz targets and benchmarks.
#include <cstddef>
#include <cstdint>
#include <string>

#include "model/KsmModel.h"

namespace kxtest {

struct KsmShape {
    size_t nbPoses = 0;
    size_t nbCameras = 0;
    size_t nbPoints = 0;
    size_t nbCaptures = 0;
    size_t nbMeasurements = 0;  // per capture
    std::string pathPrefix = "images/IMG_";
};

// Every field of every record holds a value drawn from the seed, so a field read from the wrong place
// shows; image paths are the prefix plus the capture's number and ".jpg".
ksm::Model<1u> makeKsmModel(const KsmShape& shape, uint32_t seed);

// The file bytes of a model as ksm::writeKsm makes them.
std::string ksmBytes(const ksm::Model<1u>& model, bool littleEndian = true);

}  // namespace kxtest
