// Sparse model and PLY readers on arbitrary bytes read from memory and through a pipe: both reads give the
// same model or cloud and the same error, and only the readers' own errors may escape.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <cereal/details/helpers.hpp>

#include "model/KsmModel.h"
#include "model/PlyData.h"
#include "tests/model/KsmSamples.h"
#include "tests/model/StreamHelpers.h"

namespace {

struct Outcome {
    std::string model;  // the sparse model's bytes as written again (NaN compares unequal to itself)
    bool parsed = false;
    std::vector<std::array<double, 3>> positions;
    std::vector<std::array<unsigned char, 3>> colors;
    std::string errors;  // every error, in order
};

// Runs the read; an error must be one of the reader's own (its text starts with `prefix`).
template <typename F>
void attempt(F&& read, const char* prefix, Outcome& o) {
    try {
        read();
    } catch (const std::runtime_error& e) {
        if (std::string(e.what()).rfind(prefix, 0) != 0) {
            std::abort();
        }
        o.errors += std::string(e.what()) + '\n';
    }
}

Outcome readKsm(std::istream& in) {
    Outcome o;
    attempt(
        [&] {
            const KestrixSparseModel m = ksm::loadKsm(in);
            o.model = m.index() == 1 ? kxtest::ksmBytes(std::get<1>(m)) : "(none)";
        },
        "Failed to read ", o);
    return o;
}

Outcome readPly(std::istream& in) {
    Outcome o;
    try {
        const kxply::PLYData ply(in);
        o.parsed = true;
        attempt([&] { o.positions = ply.getVertexPositions(); }, "PLY parser: ", o);
        attempt([&] { o.colors = ply.getVertexColors(); }, "PLY parser: ", o);
    } catch (const std::runtime_error& e) {
        // Not compared: a count past the data is told apart only when the length is known.
        if (std::string(e.what()).rfind("PLY parser: ", 0) != 0) {
            std::abort();
        }
    }
    return o;
}

bool operator!=(const Outcome& a, const Outcome& b) {
    const auto sameBits = [](const auto& x, const auto& y) {
        return x.size() == y.size() &&
               (x.empty() || std::memcmp(x.data(), y.data(), x.size() * sizeof x[0]) == 0);
    };
    return a.model != b.model || a.parsed != b.parsed || a.errors != b.errors ||
           !sameBits(a.positions, b.positions) || !sameBits(a.colors, b.colors);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    for (auto read : {readKsm, readPly}) {
        std::istringstream whole(bytes);
        kxtest::PipeStream pipe(bytes, 1 + size % 97);
        if (read(whole) != read(pipe)) {
            std::abort();
        }
    }
    return 0;
}
