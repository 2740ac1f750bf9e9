#include "model/PlyHeader.h"

#include <charconv>
#include <sstream>
#include <stdexcept>

#include "model/ByteSource.h"

namespace kxmodel {
namespace {

struct TypeName {
    const char* name;
    PlyType type;
};
constexpr TypeName kTypeNames[] = {
    {"char", PlyType::kChar},      {"int8", PlyType::kChar},     {"uchar", PlyType::kUChar},
    {"uint8", PlyType::kUChar},    {"short", PlyType::kShort},   {"int16", PlyType::kShort},
    {"ushort", PlyType::kUShort},  {"uint16", PlyType::kUShort}, {"int", PlyType::kInt},
    {"int32", PlyType::kInt},      {"uint", PlyType::kUInt},     {"uint32", PlyType::kUInt},
    {"float", PlyType::kFloat},    {"float32", PlyType::kFloat}, {"double", PlyType::kDouble},
    {"float64", PlyType::kDouble},
};

// A header line longer than this is not a header line.
constexpr size_t kMaxLine = 64 * 1024;

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error("PLY parser: " + what);
}

// Reads one line without its "\n" (and "\r"); false at the end of the stream or when too long.
bool readLine(ByteSource& src, std::string& line) {
    line.clear();
    for (;;) {
        const std::string_view view = src.buffered();
        const size_t nl = view.find('\n');
        const size_t take = nl == std::string_view::npos ? view.size() : nl;
        if (line.size() + take > kMaxLine) {
            return false;
        }
        line.append(view.data(), take);
        if (nl != std::string_view::npos) {
            src.consume(nl + 1);
            break;
        }
        src.consume(take);
        if (!src.fill()) {
            if (line.empty()) {
                return false;
            }
            break;
        }
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return true;
}

std::vector<std::string> words(const std::string& line) {
    std::istringstream ss(line);
    std::vector<std::string> out;
    for (std::string w; ss >> w;) {
        out.push_back(w);
    }
    return out;
}

PlyType typeOf(const std::string& name) {
    PlyType t;
    if (!parsePlyType(name, t)) {
        fail("unknown property type: " + name);
    }
    return t;
}

}  // namespace

size_t plyTypeSize(PlyType type) {
    switch (type) {
        case PlyType::kChar:
        case PlyType::kUChar:
            return 1;
        case PlyType::kShort:
        case PlyType::kUShort:
            return 2;
        case PlyType::kInt:
        case PlyType::kUInt:
        case PlyType::kFloat:
            return 4;
        case PlyType::kDouble:
            return 8;
    }
    return 0;
}

const char* plyTypeName(PlyType type) {
    for (const TypeName& t : kTypeNames) {
        if (t.type == type) {
            return t.name;
        }
    }
    return "?";
}

bool parsePlyType(const std::string& name, PlyType& type) {
    for (const TypeName& t : kTypeNames) {
        if (name == t.name) {
            type = t.type;
            return true;
        }
    }
    return false;
}

int PlyElement::find(const std::string& property) const {
    for (size_t i = 0; i < properties.size(); ++i) {
        if (properties[i].name == property) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool PlyElement::hasLists() const {
    for (const PlyProperty& p : properties) {
        if (p.isList) {
            return true;
        }
    }
    return false;
}

uint64_t PlyElement::minBinaryEntrySize() const {
    uint64_t size = 0;
    for (const PlyProperty& p : properties) {
        size += plyTypeSize(p.isList ? p.countType : p.type);
    }
    return size;
}

PlyHeader readPlyHeader(ByteSource& src) {
    std::string line;
    if (!readLine(src, line) || words(line) != std::vector<std::string>{"ply"}) {
        fail("File does not appear to be ply file. First line should be 'ply'");
    }
    PlyHeader header;
    header.nbLines = 1;
    bool haveFormat = false;
    for (;;) {
        if (!readLine(src, line)) {
            fail("no end_header line before the end of the file");
        }
        ++header.nbLines;
        const std::vector<std::string> w = words(line);
        if (w.empty() || w[0] == "comment" || w[0] == "obj_info") {
            continue;
        }
        if (w[0] == "end_header" && w.size() == 1) {
            break;
        }
        if (w[0] == "format" && w.size() == 3) {
            if (w[1] == "ascii") {
                header.format = PlyFormat::kAscii;
            } else if (w[1] == "binary_little_endian") {
                header.format = PlyFormat::kBinaryLittleEndian;
            } else if (w[1] == "binary_big_endian") {
                header.format = PlyFormat::kBinaryBigEndian;
            } else {
                fail("unknown format: " + w[1]);
            }
            if (w[2] != "1.0") {
                fail("encountered file with version != 1.0. Don't know how to parse that");
            }
            haveFormat = true;
        } else if (w[0] == "element" && w.size() == 3) {
            PlyElement e;
            e.name = w[1];
            const char* end = w[2].data() + w[2].size();
            const auto r = std::from_chars(w[2].data(), end, e.count);
            if (r.ec != std::errc() || r.ptr != end) {
                fail("bad element count in line: " + line);
            }
            header.elements.push_back(std::move(e));
        } else if (w[0] == "property" && (w.size() == 3 || (w.size() == 5 && w[1] == "list"))) {
            if (header.elements.empty()) {
                fail("property before any element: " + line);
            }
            PlyProperty p;
            if (w.size() == 5) {
                p.isList = true;
                p.countType = typeOf(w[2]);
                if (p.countType == PlyType::kFloat || p.countType == PlyType::kDouble) {
                    fail("list length type must be an integer type: " + line);
                }
                p.type = typeOf(w[3]);
                p.name = w[4];
            } else {
                p.type = typeOf(w[1]);
                p.name = w[2];
            }
            header.elements.back().properties.push_back(std::move(p));
        } else {
            fail("unknown header line: " + line);
        }
    }
    if (!haveFormat) {
        fail("no format line in the header");
    }
    return header;
}

}  // namespace kxmodel
