#pragma once
// Test-only writer of sparse model files, byte by byte in the file's layout, in either byte order.
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
