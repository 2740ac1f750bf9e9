// Sparse model reader on arbitrary bytes, read once from memory (length known) and once through a pipe
// (length unknown): both must give the same model or the same short-read text, and nothing else may
// escape.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include <cereal/details/helpers.hpp>

#include "model/KsmModel.h"
#include "tests/model/KsmSamples.h"
#include "tests/model/StreamHelpers.h"

namespace {

struct Outcome {
    KestrixSparseModel model;
    std::string error;
};

Outcome readKsm(std::istream& in) {
    Outcome o;
    try {
        o.model = ksm::loadKsm(in);
    } catch (const cereal::Exception& e) {
        o.error = e.what();
        if (o.error.rfind("Failed to read ", 0) != 0) {
            std::abort();
        }
    }
    return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::istringstream whole(bytes);
    kxtest::PipeStream pipe(bytes, 1 + size % 97);
    const Outcome a = readKsm(whole);
    const Outcome b = readKsm(pipe);
    if (a.error != b.error || a.model.index() != b.model.index()) {
        std::abort();
    }
    // NaN read from a file compares unequal to itself: compare the models' bytes.
    if (a.model.index() == 1 &&
        kxtest::ksmBytes(std::get<1>(a.model)) != kxtest::ksmBytes(std::get<1>(b.model))) {
        std::abort();
    }
    return 0;
}
