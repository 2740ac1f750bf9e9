// PLY reader on arbitrary bytes, read once from memory (length known) and once through a pipe (length
// unknown): both must agree on success and on the cloud read, and only the reader's own errors may
// escape.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <string>

#include "model/PlyData.h"
#include "tests/model/StreamHelpers.h"

namespace {

struct Outcome {
    bool parsed = false;
    std::string positionsError, colorsError;
    std::vector<std::array<double, 3>> positions;
    std::vector<std::array<unsigned char, 3>> colors;
};

// Runs the read; an error must be one of the reader's own, and its message goes to `error`.
template <typename F>
void attempt(F&& read, std::string& error) {
    try {
        read();
    } catch (const std::runtime_error& e) {
        error = e.what();
        if (error.rfind("PLY parser: ", 0) != 0) {
            std::abort();
        }
    }
}

Outcome readPly(std::istream& in) {
    Outcome o;
    std::string parseError;  // a count past the data is told apart only when the length is known
    attempt(
        [&] {
            const kxply::PLYData ply(in);
            o.parsed = true;
            attempt([&] { o.positions = ply.getVertexPositions(); }, o.positionsError);
            attempt([&] { o.colors = ply.getVertexColors(); }, o.colorsError);
        },
        parseError);
    return o;
}

// NaN read from a file compares unequal to itself: compare the bits.
bool sameBits(const std::vector<std::array<double, 3>>& a, const std::vector<std::array<double, 3>>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof a[0]) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::istringstream whole(bytes);
    kxtest::PipeStream pipe(bytes, 1 + size % 89);
    const Outcome a = readPly(whole);
    const Outcome b = readPly(pipe);
    if (a.parsed != b.parsed || a.positionsError != b.positionsError || a.colorsError != b.colorsError ||
        !sameBits(a.positions, b.positions) || a.colors != b.colors) {
        std::abort();
    }
    return 0;
}
