#include "tests/model/PlySamples.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <map>
#include <random>
#include <sstream>
#include <string_view>

namespace kxtest {

Cloud makeCloud(size_t nbPoints, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> real(-500.f, 500.f);
    std::uniform_int_distribution<int> byte(0, 255);
    Cloud c;
    c.positions.reserve(nbPoints);
    c.colors.reserve(nbPoints);
    for (size_t i = 0; i < nbPoints; ++i) {
        c.positions.push_back({real(rng), real(rng), real(rng)});
        c.colors.push_back({uint8_t(byte(rng)), uint8_t(byte(rng)), uint8_t(byte(rng))});
    }
    return c;
}

namespace {

// How values of a stored type are written; throws on a name that is no type the tests write.
struct Type {
    size_t size;
    bool isFloat;
};
Type typeOf(const std::string& name) {
    static const std::map<std::string, Type> types = {
        {"char", {1, false}},   {"uchar", {1, false}}, {"uint8", {1, false}}, {"short", {2, false}},
        {"ushort", {2, false}}, {"int", {4, false}},   {"uint", {4, false}},  {"float", {4, true}},
        {"float32", {4, true}}, {"double", {8, true}}};
    return types.at(name);
}

// One entry's values, each with its stored type.
using Entry = std::vector<std::pair<Type, double>>;

// Writes one entry, each value converted to its stored type (integers truncated, floats rounded): as a
// line of text, values separated by spaces, or as bytes in the file's order.
void writeEntry(std::ostream& out, PlyOut format, const Entry& entry) {
    const bool little = format == PlyOut::kBinaryLittleEndian;
    for (size_t k = 0; k < entry.size(); ++k) {
        const auto& [t, v] = entry[k];
        const int64_t i = t.isFloat ? 0 : static_cast<int64_t>(v);
        if (format == PlyOut::kAscii) {
            char buf[64];
            const auto r = !t.isFloat    ? std::to_chars(buf, buf + sizeof buf, i)
                           : t.size == 4 ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(v))
                                         : std::to_chars(buf, buf + sizeof buf, v);
            out << (k ? " " : "") << std::string_view(buf, r.ptr - buf);
        } else {
            // The stored bits as a number, put out a byte at a time: the host's byte order does not matter.
            uint64_t bits = static_cast<uint64_t>(i);  // an integer's low bytes are its truncation
            if (t.isFloat && t.size == 4) {
                const float single = static_cast<float>(v);
                uint32_t singleBits = 0;
                std::memcpy(&singleBits, &single, sizeof single);
                bits = singleBits;
            } else if (t.isFloat) {
                std::memcpy(&bits, &v, sizeof v);
            }
            for (size_t b = 0; b < t.size; ++b) {
                out.put(static_cast<char>(bits >> 8 * (little ? b : t.size - 1 - b)));
            }
        }
    }
    if (format == PlyOut::kAscii) {
        out << '\n';
    }
}

// The extra vertex properties: a type of every width and kind, and a value that fits it.
struct Extra {
    const char* type;
    const char* name;
    double value;
};
constexpr Extra kExtras[] = {
    {"float", "nx", 0.25},          {"char", "a_char", -7},    {"ushort", "a_ushort", 65535},
    {"short", "a_short", -300},     {"int", "a_int", -123456}, {"uint", "a_uint", 4000000000.0},
    {"double", "a_double", 1e-300}, {"uchar", "alpha", 200},
};

}  // namespace

void writeCloud(std::ostream& out, const Cloud& cloud, const CloudLayout& layout) {
    const char* formats[] = {"ascii", "binary_little_endian", "binary_big_endian"};
    out << "ply\nformat " << formats[static_cast<int>(layout.format)]
        << " 1.0\ncomment written by the tests\n";
    // The face element's header and entries, put before or after the vertices'.
    std::ostringstream faceHeader, faces;
    if (layout.nbFaces) {
        faceHeader << "element face " << layout.nbFaces
                   << "\nproperty list uchar int vertex_indices\nproperty float quality\n";
    }
    const Type f = typeOf("float"), count = typeOf("uchar"), index = typeOf("int");
    const size_t n = std::max<size_t>(1, cloud.positions.size());
    for (size_t i = 0; i < layout.nbFaces; ++i) {
        Entry e = {{count, double(i % 5)}};  // 0 to 4 corners: empty lists too
        for (size_t k = 0; k < i % 5; ++k) {
            e.push_back({index, double((i + k) % n)});
        }
        e.push_back({f, 0.5});
        writeEntry(faces, layout.format, e);
    }
    // The vertex properties in file order, by what each holds: 0..2 a coordinate, 3..5 a colour, 6 + i
    // the extra i. Extras sit between the wanted ones.
    const size_t order[] = {6, 7, 0, 8, 9, 1, 3, 10, 11, 2, 4, 5, 12, 13};
    const char* names[] = {"x", "y", "z", "red", "green", "blue"};
    std::vector<std::pair<size_t, Type>> props;  // role, type
    out << (layout.facesFirst ? faceHeader.str() : "") << "element vertex " << cloud.positions.size() << '\n';
    for (size_t role : order) {
        if (role >= 6 ? !layout.extras : role >= 3 && layout.colorType.empty()) {
            continue;
        }
        const std::string type = role < 3   ? layout.xyzType
                                 : role < 6 ? layout.colorType
                                            : kExtras[role - 6].type;
        out << "property " << type << ' ' << (role < 6 ? names[role] : kExtras[role - 6].name) << '\n';
        props.push_back({role, typeOf(type)});
    }
    if (layout.extras) {
        out << "property list ushort uint8 neighbours\n";
    }
    out << (layout.facesFirst ? "" : faceHeader.str()) << "end_header\n"
        << (layout.facesFirst ? faces.str() : "");

    const Type ushort = typeOf("ushort"), uint8 = typeOf("uint8");
    Entry e;
    for (size_t i = 0; i < cloud.positions.size(); ++i) {
        e.clear();
        for (const auto& [role, t] : props) {
            e.push_back({t, role < 3   ? cloud.positions[i][role]
                            : role < 6 ? cloud.colors[i][role - 3] * (t.isFloat ? 1 / 255.0 : 1)
                                       : kExtras[role - 6].value});
        }
        if (layout.extras) {
            e.push_back({ushort, double(i % 3)});
            e.insert(e.end(), i % 3, {uint8, 9.0});
        }
        writeEntry(out, layout.format, e);
    }
    out << (layout.facesFirst ? "" : faces.str());
}

std::string cloudBytes(const Cloud& cloud, const CloudLayout& layout) {
    std::ostringstream os;
    writeCloud(os, cloud, layout);
    return os.str();
}

}  // namespace kxtest
