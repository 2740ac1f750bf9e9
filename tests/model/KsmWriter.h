#pragma once
// Test-only writer of sparse model files in either byte order: the fixed header, then the model through
// the portable binary archive that defines the payload.
#include <cstdint>
#include <ostream>
#include <string>

#include "model/KsmModel.h"

namespace kxtest {

struct KsmHeader {
    uint64_t magic = ksm::kMagic;
    uint32_t version = ksm::kVersion;
    bool littleEndian = true;
};

void writeKsm(std::ostream& out, const ksm::Model<1u>& model, const KsmHeader& header = {});
std::string ksmBytes(const ksm::Model<1u>& model, const KsmHeader& header = {});

}  // namespace kxtest
