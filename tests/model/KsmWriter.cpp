#include "tests/model/KsmWriter.h"

#include <sstream>

#include "model/KsmArchive.h"

namespace kxtest {

void writeKsm(std::ostream& os, const ksm::Model<1u>& m, const KsmHeader& header) {
    for (int i = 0; i < 8; ++i) {
        os.put(static_cast<char>(header.magic >> (8 * i)));
    }
    for (int i = 0; i < 4; ++i) {
        os.put(static_cast<char>(header.version >> (8 * i)));
    }
    using Options = cereal::PortableBinaryOutputArchive::Options;
    cereal::PortableBinaryOutputArchive ar(
        os, Options(header.littleEndian ? Options::Endianness::little : Options::Endianness::big));
    ar(m);
}

std::string ksmBytes(const ksm::Model<1u>& model, const KsmHeader& header) {
    std::ostringstream os;
    writeKsm(os, model, header);
    return os.str();
}

}  // namespace kxtest
