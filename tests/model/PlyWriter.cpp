#include "tests/model/PlyWriter.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace kxtest {
namespace {

bool hostLittle() {
    const uint16_t one = 1;
    unsigned char b;
    std::memcpy(&b, &one, 1);
    return b == 1;
}

template <typename T>
void put(std::ostream& out, T v, bool little) {
    char b[sizeof(T)];
    std::memcpy(b, &v, sizeof v);
    if (little != hostLittle()) {
        for (size_t i = 0; i < sizeof v / 2; ++i) {
            std::swap(b[i], b[sizeof v - 1 - i]);
        }
    }
    out.write(b, sizeof b);
}

template <typename T>
void text(std::ostream& out, T v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.write(buf, r.ptr - buf);
}

}  // namespace

PlyWriter::Type PlyWriter::type(const std::string& name) {
    if (name == "char" || name == "int8")
        return {1, false, true};
    if (name == "uchar" || name == "uint8")
        return {1, false, false};
    if (name == "short" || name == "int16")
        return {2, false, true};
    if (name == "ushort" || name == "uint16")
        return {2, false, false};
    if (name == "int" || name == "int32")
        return {4, false, true};
    if (name == "uint" || name == "uint32")
        return {4, false, false};
    if (name == "float" || name == "float32")
        return {4, true, true};
    if (name == "double" || name == "float64")
        return {8, true, true};
    throw std::invalid_argument("unknown PLY type " + name);
}

PlyWriter::PlyWriter(std::ostream& out, PlyOut format) : mOut(out), mFormat(format) {
    const char* names[] = {"ascii", "binary_little_endian", "binary_big_endian"};
    mOut << "ply\nformat " << names[static_cast<int>(format)] << " 1.0\n";
}

void PlyWriter::line(const std::string& headerLine) {
    mOut << headerLine << '\n';
}

void PlyWriter::element(const std::string& name, size_t count) {
    mOut << "element " << name << ' ' << count << '\n';
}

void PlyWriter::property(const std::string& typeName, const std::string& name) {
    type(typeName);
    mOut << "property " << typeName << ' ' << name << '\n';
}

void PlyWriter::listProperty(const std::string& countType, const std::string& itemType,
                             const std::string& name) {
    type(countType), type(itemType);
    mOut << "property list " << countType << ' ' << itemType << ' ' << name << '\n';
}

void PlyWriter::endHeader() {
    mOut << "end_header\n";
}

void PlyWriter::value(const Type& t, double v) {
    if (mFormat == PlyOut::kAscii) {
        if (!mFirstInEntry) {
            mOut.put(' ');
        }
        mFirstInEntry = false;
        if (t.isFloat && t.size == 4) {
            text(mOut, static_cast<float>(v));
        } else if (t.isFloat) {
            text(mOut, v);
        } else {
            text(mOut, static_cast<int64_t>(v));
        }
        return;
    }
    const bool little = mFormat == PlyOut::kBinaryLittleEndian;
    if (t.isFloat) {
        t.size == 4 ? put(mOut, static_cast<float>(v), little) : put(mOut, v, little);
    } else if (t.size == 1) {
        put(mOut, static_cast<uint8_t>(static_cast<int64_t>(v)), little);
    } else if (t.size == 2) {
        put(mOut, static_cast<uint16_t>(static_cast<int64_t>(v)), little);
    } else {
        put(mOut, static_cast<uint32_t>(static_cast<int64_t>(v)), little);
    }
}

void PlyWriter::list(const Type& countType, const Type& itemType, const std::vector<double>& items) {
    value(countType, static_cast<double>(items.size()));
    for (double v : items) {
        value(itemType, v);
    }
}

void PlyWriter::endEntry() {
    if (mFormat == PlyOut::kAscii) {
        mOut.put('\n');
    }
    mFirstInEntry = true;
}

}  // namespace kxtest
