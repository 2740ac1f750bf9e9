#include "tests/model/PlySamples.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <map>
#include <random>
#include <sstream>

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

// How values of a stored type are written; throws on a name that is no PLY type (or alias).
struct Type {
    size_t size;
    bool isFloat;
};
Type typeOf(const std::string& name) {
    static const std::map<std::string, size_t> sizes = {
        {"char", 1},   {"int8", 1},    {"uchar", 1},  {"uint8", 1},  {"short", 2}, {"int16", 2},
        {"ushort", 2}, {"uint16", 2},  {"int", 4},    {"int32", 4},  {"uint", 4},  {"uint32", 4},
        {"float", 4},  {"float32", 4}, {"double", 8}, {"float64", 8}};
    return {sizes.at(name), name[0] == 'f' || name[0] == 'd'};
}

// Writes values in the file's format, each converted to its stored type (integers truncated, floats
// rounded); ascii values are separated by spaces, entries by line breaks.
class Writer {
public:
    Writer(std::ostream& out, PlyOut format) : mOut(out), mFormat(format) {}

    void value(const Type& t, double v) {
        if (mFormat == PlyOut::kAscii) {
            mOut << (mFirstInEntry ? "" : " ");
            mFirstInEntry = false;
            char buf[64];
            const auto r = !t.isFloat    ? std::to_chars(buf, buf + sizeof buf, static_cast<int64_t>(v))
                           : t.size == 4 ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(v))
                                         : std::to_chars(buf, buf + sizeof buf, v);
            mOut.write(buf, r.ptr - buf);
        } else if (t.isFloat) {
            t.size == 4 ? put(static_cast<float>(v)) : put(v);
        } else {
            const auto i = static_cast<int64_t>(v);
            t.size == 1   ? put(static_cast<uint8_t>(i))
            : t.size == 2 ? put(static_cast<uint16_t>(i))
                          : put(static_cast<uint32_t>(i));
        }
    }
    void list(const Type& count, const Type& item, const std::vector<double>& items) {
        value(count, static_cast<double>(items.size()));
        for (double v : items) {
            value(item, v);
        }
    }
    void endEntry() {
        if (mFormat == PlyOut::kAscii) {
            mOut.put('\n');
        }
        mFirstInEntry = true;
    }

private:
    std::ostream& mOut;
    PlyOut mFormat;
    bool mFirstInEntry = true;

    template <typename T>
    void put(T v) {
        char b[sizeof(T)];
        std::memcpy(b, &v, sizeof v);
        const uint16_t one = 1;
        const bool hostLittle = *reinterpret_cast<const unsigned char*>(&one) == 1;
        if ((mFormat == PlyOut::kBinaryLittleEndian) != hostLittle) {
            std::reverse(b, b + sizeof b);
        }
        mOut.write(b, sizeof b);
    }
};

// The extra vertex properties: a type name of every kind (and alias) and a value that fits it.
struct Extra {
    const char* type;
    const char* name;
    double value;
};
constexpr Extra kExtras[] = {
    {"float", "nx", 0.25},        {"int8", "a_int8", -7},           {"uint16", "a_uint16", 65535},
    {"short", "a_short", -300},   {"uint", "a_uint", 4000000000.0}, {"int32", "a_int32", -123456},
    {"float64", "a_f64", 1e-300}, {"char", "a_char", 127},          {"ushort", "a_ushort", 1},
    {"uint32", "a_uint32", 7},    {"int16", "a_int16", 12},         {"uint8", "alpha", 200},
};

}  // namespace

void writeCloud(std::ostream& out, const Cloud& cloud, const CloudLayout& layout) {
    const char* formats[] = {"ascii", "binary_little_endian", "binary_big_endian"};
    out << "ply\nformat " << formats[static_cast<int>(layout.format)]
        << " 1.0\ncomment written by the tests\n";
    std::ostringstream faceHeader;
    if (layout.nbFaces) {
        faceHeader << "element face " << layout.nbFaces << "\nproperty list " << layout.faceCountType << ' '
                   << layout.faceIndexType << " vertex_indices\nproperty float quality\n";
    }
    if (layout.facesFirst) {
        out << faceHeader.str();
    }
    // The vertex properties in file order, with what each holds: 0..2 a coordinate, 3..5 a colour,
    // 6 + i the extra i. Extras sit between the wanted ones.
    struct Prop {
        std::string type, name;
        size_t role;
        Type t;
    };
    std::vector<Prop> props;
    auto add = [&](const std::string& type, const std::string& name, size_t role) {
        props.push_back({type, name, role, typeOf(type)});
    };
    auto extras = [&](size_t from, size_t to) {
        for (size_t i = from; layout.extras && i < to; ++i) {
            add(kExtras[i].type, kExtras[i].name, 6 + i);
        }
    };
    const bool colors = !layout.colorType.empty();
    extras(0, 2);
    add(layout.xyzType, "x", 0);
    extras(2, 4);
    add(layout.xyzType, "y", 1);
    if (colors) {
        add(layout.colorType, "red", 3);
    }
    extras(4, 8);
    add(layout.xyzType, "z", 2);
    if (colors) {
        add(layout.colorType, "green", 4);
        add(layout.colorType, "blue", 5);
    }
    extras(8, 12);
    out << "element vertex " << cloud.positions.size() << '\n';
    for (const Prop& p : props) {
        out << "property " << p.type << ' ' << p.name << '\n';
    }
    if (layout.extras) {
        out << "property list ushort uint8 neighbours\n";
    }
    if (!layout.facesFirst) {
        out << faceHeader.str();
    }
    out << "end_header\n";

    Writer w(out, layout.format);
    const Type f = typeOf("float"), ushort = typeOf("ushort"), uint8 = typeOf("uint8");
    auto faces = [&] {
        const Type count = typeOf(layout.faceCountType), index = typeOf(layout.faceIndexType);
        const size_t n = cloud.positions.empty() ? 1 : cloud.positions.size();
        for (size_t i = 0; i < layout.nbFaces; ++i) {
            std::vector<double> corners;  // 0 to 4 corners: empty lists too
            for (size_t k = 0; k < i % 5; ++k) {
                corners.push_back(static_cast<double>((i + k) % n));
            }
            w.list(count, index, corners);
            w.value(f, 0.5);
            w.endEntry();
        }
    };
    if (layout.facesFirst) {
        faces();
    }
    for (size_t i = 0; i < cloud.positions.size(); ++i) {
        for (const Prop& p : props) {
            w.value(p.t, p.role < 3   ? cloud.positions[i][p.role]
                         : p.role < 6 ? cloud.colors[i][p.role - 3]
                                      : kExtras[p.role - 6].value);
        }
        if (layout.extras) {
            w.list(ushort, uint8, std::vector<double>(i % 3, 9.0));
        }
        w.endEntry();
    }
    if (!layout.facesFirst) {
        faces();
    }
}

std::string cloudBytes(const Cloud& cloud, const CloudLayout& layout) {
    std::ostringstream os;
    writeCloud(os, cloud, layout);
    return os.str();
}

}  // namespace kxtest
