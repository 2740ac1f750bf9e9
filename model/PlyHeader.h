#pragma once
// The header of a PLY file: its format and the elements with their properties.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kxmodel {

class ByteSource;

enum class PlyFormat { kAscii, kBinaryLittleEndian, kBinaryBigEndian };

enum class PlyType { kChar, kUChar, kShort, kUShort, kInt, kUInt, kFloat, kDouble };

// Width in bytes of a stored value of this type.
size_t plyTypeSize(PlyType type);
// The canonical name ("char", "uchar", ..., "double").
const char* plyTypeName(PlyType type);
// Parses a type name or its alias ("int8", "uint8", ..., "float32", "float64"); false when unknown.
bool parsePlyType(const std::string& name, PlyType& type);

struct PlyProperty {
    std::string name;
    PlyType type = PlyType::kUChar;  // the value type (of the items, for a list)
    bool isList = false;
    PlyType countType = PlyType::kUChar;  // the list length type
};

struct PlyElement {
    std::string name;
    uint64_t count = 0;
    std::vector<PlyProperty> properties;

    // Index of the first property with this name, or -1.
    int find(const std::string& property) const;
    bool hasLists() const;
    // Bytes of one binary entry when it has no lists; the least it can take otherwise.
    uint64_t minBinaryEntrySize() const;
};

struct PlyHeader {
    PlyFormat format = PlyFormat::kAscii;
    std::vector<PlyElement> elements;
    uint64_t nbLines = 0;  // lines of the header, "end_header" included
};

// Reads the header up to and including the "end_header" line; the source is left at the first data
// byte. Throws std::runtime_error with a "PLY parser: " message on anything it cannot understand.
PlyHeader readPlyHeader(ByteSource& src);

}  // namespace kxmodel
