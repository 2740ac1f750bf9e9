#pragma once
// Test-only writer of PLY files in any of the three formats, with any type name a header may use.
#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

namespace kxtest {

enum class PlyOut { kAscii, kBinaryLittleEndian, kBinaryBigEndian };

class PlyWriter {
public:
    // How values of one stored type are written.
    struct Type {
        size_t size = 0;
        bool isFloat = false;
        bool isSigned = false;
    };
    // The type of a header name such as "uchar", "uint8" or "float64"; throws on an unknown name.
    static Type type(const std::string& name);

    // Writes the "ply" and "format" lines.
    PlyWriter(std::ostream& out, PlyOut format);

    void line(const std::string& headerLine);  // any header line, written as given
    void element(const std::string& name, size_t count);
    void property(const std::string& typeName, const std::string& name);
    void listProperty(const std::string& countType, const std::string& itemType, const std::string& name);
    void endHeader();

    // One value converted to the stored type (integers are truncated, floats rounded).
    void value(const Type& t, double v);
    void list(const Type& countType, const Type& itemType, const std::vector<double>& items);
    void endEntry();  // the line break of an ascii entry

private:
    std::ostream& mOut;
    PlyOut mFormat;
    bool mFirstInEntry = true;
};

}  // namespace kxtest
