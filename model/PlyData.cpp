#include "model/PlyData.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "model/ByteOrder.h"
#include "model/ByteSource.h"
#include "model/PlyDecode.h"
#include "model/PlyHeader.h"

namespace kxply {
namespace {

using kxmodel::PlyElement;
using kxmodel::PlyType;

constexpr const char* kVertex = "vertex";
using Names = std::array<const char*, 3>;
constexpr Names kXyz = {"x", "y", "z"};
// Colours under their plain names, or with the "diffuse_" prefix that other writers use.
constexpr Names kRgb = {"red", "green", "blue"};
constexpr Names kDiffuseRgb = {"diffuse_red", "diffuse_green", "diffuse_blue"};

bool declaresAny(const PlyElement& e, const Names& names) {
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return e.find(n) >= 0; });
}

// Finds the scalar properties `names` of the element and checks that each can be read as the requested
// type; returns the error message, or "" with `indices` set.
std::string locate(const PlyElement& e, const Names& names, const char* requested, bool (*accepts)(PlyType),
                   std::array<int, 3>& indices) {
    for (size_t k = 0; k < names.size(); ++k) {
        const int i = e.find(names[k]);
        if (i < 0) {
            return "PLY parser: element " + e.name + " does not have property " + names[k];
        }
        const kxmodel::PlyProperty& p = e.properties[i];
        if (p.isList || !accepts(p.type)) {
            return std::string("PLY parser: property ") + names[k] + " cannot be coerced to requested type " +
                   requested + ". Has type " + (p.isList ? "list" : kxmodel::plyTypeName(p.type));
        }
        indices[k] = i;
    }
    return {};
}

bool isFloating(PlyType t) {
    return t == PlyType::kFloat || t == PlyType::kDouble;
}
// Any scalar colour converts to 0..255 (see colourByte).
bool isScalarType(PlyType) {
    return true;
}

}  // namespace

PLYData::PLYData(const std::string& filename, bool verbose) {
    std::ifstream in(filename, std::ios::binary);
    std::error_code ec;
    if (!in || std::filesystem::is_directory(filename, ec)) {
        throw std::runtime_error("PLY parser: Could not open file " + filename);
    }
    parse(in, verbose);
}

PLYData::PLYData(std::istream& in, bool verbose) {
    parse(in, verbose);
}

void PLYData::parse(std::istream& in, bool verbose) {
    kxmodel::ByteSource src(in);
    const kxmodel::PlyHeader header = kxmodel::readPlyHeader(src);
    const bool swap =
        header.format != kxmodel::PlyFormat::kAscii &&
        (header.format == kxmodel::PlyFormat::kBinaryLittleEndian) != kxmodel::hostIsLittleEndian();

    kxmodel::VertexTargets targets;
    const PlyElement* vertex = nullptr;
    for (const PlyElement& e : header.elements) {
        if (e.name == kVertex) {
            vertex = &e;
            break;
        }
    }
    if (!vertex) {
        mPositionsError = mColorsError = std::string("PLY parser: no element with name: ") + kVertex;
    } else {
        mPositionsError = locate(*vertex, kXyz, "double", isFloating, targets.pos);
        const bool diffuse = !declaresAny(*vertex, kRgb) && declaresAny(*vertex, kDiffuseRgb);
        mDeclaresColors = diffuse || declaresAny(*vertex, kRgb);
        mColorsError = locate(*vertex, diffuse ? kDiffuseRgb : kRgb, "uchar", isScalarType, targets.col);
        if (!mPositionsError.empty()) {
            targets.pos = {-1, -1, -1};
        }
        if (!mColorsError.empty()) {
            targets.col = {-1, -1, -1};
        }
        targets.positions = &mPositions;
        targets.colors = &mColors;
    }

    uint64_t line = header.nbLines + 1;  // of the next ascii entry
    for (const PlyElement& e : header.elements) {
        if (verbose) {
            std::printf("PLY parser: element %s, %llu entries, %zu properties\n", e.name.c_str(),
                        static_cast<unsigned long long>(e.count), e.properties.size());
        }
        const bool keep = &e == vertex && (targets.keepsPositions() || targets.keepsColors());
        if (header.format == kxmodel::PlyFormat::kAscii) {
            kxmodel::readAsciiElement(src, e, keep ? &targets : nullptr, line);
            line += e.count;
        } else {
            kxmodel::readBinaryElement(src, e, swap, keep ? &targets : nullptr);
        }
    }
}

const std::vector<std::array<double, 3>>& PLYData::getVertexPositions() const {
    if (!mPositionsError.empty()) {
        throw std::runtime_error(mPositionsError);
    }
    return mPositions;
}

const std::vector<std::array<unsigned char, 3>>& PLYData::getVertexColors() const {
    if (!mColorsError.empty()) {
        throw std::runtime_error(mColorsError);
    }
    return mColors;
}

}  // namespace kxply
