#pragma once
// Point clouds made from a seed and written in any PLY layout, for tests, fuzz seeds and benchmarks.
#include <array>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace kxtest {

enum class PlyOut { kAscii, kBinaryLittleEndian, kBinaryBigEndian };

struct Cloud {
    std::vector<std::array<double, 3>> positions;  // each exactly representable as a float
    std::vector<std::array<unsigned char, 3>> colors;
};

Cloud makeCloud(size_t nbPoints, uint32_t seed);

struct CloudLayout {
    PlyOut format = PlyOut::kBinaryLittleEndian;
    std::string xyzType = "float";
    std::string colorType = "uchar";  // "" writes no colours; floating ones span 0..1
    // Interleaves other properties of every width (and a list) among x, y, z and the colours.
    bool extras = false;
    size_t nbFaces = 0;  // each a list of 0 to 4 vertex indices and a float
    bool facesFirst = false;
};

void writeCloud(std::ostream& out, const Cloud& cloud, const CloudLayout& layout);
std::string cloudBytes(const Cloud& cloud, const CloudLayout& layout);

}  // namespace kxtest
