#pragma once
// Reading of PLY point clouds (ascii, binary little- and big-endian): the vertex positions and
// colours of the element "vertex". Every other element and property is parsed and skipped.
#include <array>
#include <istream>
#include <string>
#include <vector>

namespace kxply {

class PLYData {
public:
    // Parses the whole file at once. Throws std::runtime_error with a "PLY parser: " message when the
    // file cannot be opened, is no PLY file, or its data is cut or malformed. A declared count is
    // checked against the bytes that remain before anything is allocated for it.
    explicit PLYData(const std::string& filename, bool verbose = false);
    explicit PLYData(std::istream& in, bool verbose = false);

    // x, y, z of each vertex, in file order; stored as float or double.
    // Throws std::runtime_error: "PLY parser: no element with name: vertex", "PLY parser: element
    // vertex does not have property x", or "PLY parser: property x cannot be coerced to requested type
    // double. Has type int".
    const std::vector<std::array<double, 3>>& getVertexPositions() const;
    // red, green, blue (or diffuse_red, diffuse_green, diffuse_blue) of each vertex, in file order, as
    // 0..255: scalars of any type, floating ones spanning 0..1 and ushort 0..65535, others clamped. Throws
    // as above; "... does not have property red" also when the vertices have no colours at all.
    const std::vector<std::array<unsigned char, 3>>& getVertexColors() const;
    // Whether the vertex element has any colour property; if so, getVertexColors() gives the colours or
    // the reason they cannot be read.
    bool declaresVertexColors() const { return mDeclaresColors; }

private:
    std::vector<std::array<double, 3>> mPositions;
    std::vector<std::array<unsigned char, 3>> mColors;
    std::string mPositionsError;  // empty when mPositions holds the positions
    std::string mColorsError;
    bool mDeclaresColors = false;

    void parse(std::istream& in, bool verbose);
};

}  // namespace kxply
