#include "tests/model/PlySamples.h"

#include <iterator>
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

void writeFaces(PlyWriter& w, const Cloud& cloud, const CloudLayout& layout) {
    const PlyWriter::Type count = PlyWriter::type(layout.faceCountType);
    const PlyWriter::Type index = PlyWriter::type(layout.faceIndexType);
    const PlyWriter::Type f = PlyWriter::type("float");
    const size_t n = cloud.positions.empty() ? 1 : cloud.positions.size();
    for (size_t i = 0; i < layout.nbFaces; ++i) {
        // Faces of 0 to 4 corners: empty lists too.
        std::vector<double> corners;
        for (size_t k = 0; k < i % 5; ++k) {
            corners.push_back(static_cast<double>((i + k) % n));
        }
        w.list(count, index, corners);
        w.value(f, 0.5);
        w.endEntry();
    }
}

}  // namespace

void writeCloud(std::ostream& out, const Cloud& cloud, const CloudLayout& layout) {
    PlyWriter w(out, layout.format);
    w.line("comment written by the tests");
    auto faceHeader = [&] {
        w.element("face", layout.nbFaces);
        w.listProperty(layout.faceCountType, layout.faceIndexType, "vertex_indices");
        w.property("float", "quality");
    };
    if (layout.nbFaces && layout.facesFirst) {
        faceHeader();
    }
    const bool colors = !layout.colorType.empty();
    // Property order; extras sit between the wanted ones.
    std::vector<std::pair<std::string, std::string>> props;  // type, name
    auto extras = [&](size_t from, size_t to) {
        for (size_t i = from; layout.extras && i < to; ++i) {
            props.emplace_back(kExtras[i].type, kExtras[i].name);
        }
    };
    extras(0, 2);
    props.emplace_back(layout.xyzType, "x");
    extras(2, 4);
    props.emplace_back(layout.xyzType, "y");
    if (colors) {
        props.emplace_back(layout.colorType, "red");
    }
    extras(4, 8);
    props.emplace_back(layout.xyzType, "z");
    if (colors) {
        props.emplace_back(layout.colorType, "green");
        props.emplace_back(layout.colorType, "blue");
    }
    extras(8, 12);
    w.element("vertex", cloud.positions.size());
    for (const auto& [type, name] : props) {
        w.property(type, name);
    }
    if (layout.extras) {
        w.listProperty("ushort", "uint8", "neighbours");
    }
    if (layout.nbFaces && !layout.facesFirst) {
        faceHeader();
    }
    w.endHeader();

    if (layout.nbFaces && layout.facesFirst) {
        writeFaces(w, cloud, layout);
    }
    // What each property holds: 0..2 a coordinate, 3..5 a colour, 6 + i the extra i.
    std::vector<PlyWriter::Type> types;
    std::vector<size_t> role;
    for (const auto& [type, name] : props) {
        types.push_back(PlyWriter::type(type));
        const char* known[] = {"x", "y", "z", "red", "green", "blue"};
        size_t r = 0;
        while (r < 6 && name != known[r]) {
            ++r;
        }
        for (size_t e = 0; r == 6 && e < std::size(kExtras); ++e) {
            if (name == kExtras[e].name) {
                r = 6 + e;
            }
        }
        role.push_back(r);
    }
    const PlyWriter::Type ushort = PlyWriter::type("ushort"), uint8 = PlyWriter::type("uint8");
    for (size_t i = 0; i < cloud.positions.size(); ++i) {
        for (size_t j = 0; j < props.size(); ++j) {
            const size_t r = role[j];
            const double v = r < 3   ? cloud.positions[i][r]
                             : r < 6 ? cloud.colors[i][r - 3]
                                     : kExtras[r - 6].value;
            w.value(types[j], v);
        }
        if (layout.extras) {
            w.list(ushort, uint8, std::vector<double>(i % 3, 9.0));
        }
        w.endEntry();
    }
    if (layout.nbFaces && !layout.facesFirst) {
        writeFaces(w, cloud, layout);
    }
}

std::string cloudBytes(const Cloud& cloud, const CloudLayout& layout) {
    std::ostringstream os;
    writeCloud(os, cloud, layout);
    return os.str();
}

}  // namespace kxtest
