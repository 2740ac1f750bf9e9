#pragma once
// Reading of the data of one PLY element, shared by the PLY reader's translation units.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/PlyHeader.h"

namespace kxmodel {

class ByteSource;

// What to keep of the vertex element: the indices of x, y, z and of the three colour channels among its
// properties (-1: not kept). Kept properties are scalars; positions are of a floating type.
struct VertexTargets {
    std::array<int, 3> pos{-1, -1, -1};
    std::array<int, 3> col{-1, -1, -1};
    std::vector<std::array<double, 3>>* positions = nullptr;
    std::vector<std::array<unsigned char, 3>>* colors = nullptr;

    bool keepsPositions() const { return pos[0] >= 0; }
    bool keepsColors() const { return col[0] >= 0; }
};

// Reads (targets given) or skips (targets null) every entry of the element.
void readBinaryElement(ByteSource& src, const PlyElement& element, bool swap, const VertexTargets* targets);
// An ascii element's entries are lines; `firstLine` is the number of its first line in the file, for
// error messages.
void readAsciiElement(ByteSource& src, const PlyElement& element, const VertexTargets* targets,
                      uint64_t firstLine);

// A colour channel stored as `type`, as 0..255: floating values span 0..1 and ushort values 0..65535;
// other integers are taken as they are. Clamped; NaN gives 0.
inline unsigned char colourByte(double value, PlyType type) {
    if (type == PlyType::kUChar) {
        return static_cast<unsigned char>(value);  // the common case, already in range
    }
    if (type == PlyType::kFloat || type == PlyType::kDouble) {
        value *= 255;
    } else if (type == PlyType::kUShort) {
        value /= 257;  // 65535 / 255
    }
    return static_cast<unsigned char>(value >= 255 ? 255 : value > 0 ? value + 0.5 : 0);  // rounded
}

[[noreturn]] void plyFail(const std::string& what);
// Fails unless `count` entries of at least `minEntryBytes` each fit in the bytes that remain.
void checkEntriesFit(const PlyElement& element, uint64_t minEntryBytes, std::optional<uint64_t> remaining);
[[noreturn]] void failTruncated(const PlyElement& element);
// How many entries to reserve before reading: all where the bytes are known to be there.
size_t initialReserve(uint64_t count, std::optional<uint64_t> remaining);

}  // namespace kxmodel
