#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "model/PlyData.h"
#include "tests/model/PlySamples.h"
#include "tests/model/StreamHelpers.h"
#include "tests/support/TestSupport.h"

namespace {

using kxtest::CloudLayout;
using kxtest::PlyOut;

void expectCloud(const kxply::PLYData& ply, const kxtest::Cloud& cloud) {
    EXPECT_EQ(ply.getVertexPositions(), cloud.positions);
    EXPECT_EQ(ply.getVertexColors(), cloud.colors);
}

TEST(PlyReader, EveryFormatAndElementOrderReadsTheSameCloud) {
    // Plain, and doubles among extra properties of every width with faces first.
    const CloudLayout layouts[] = {{PlyOut::kAscii, "float32", "uint8"},
                                   {PlyOut::kAscii, "double", "uchar", true, 40, true}};
    for (const kxtest::Cloud& cloud : {kxtest::makeCloud(300, 1), kxtest::Cloud{}}) {
        for (PlyOut format : {PlyOut::kAscii, PlyOut::kBinaryLittleEndian, PlyOut::kBinaryBigEndian}) {
            for (CloudLayout l : layouts) {
                l.format = format;
                SCOPED_TRACE(std::to_string(cloud.positions.size()) + " points, format " +
                             std::to_string(int(format)) + " " + l.xyzType);
                std::istringstream in(kxtest::cloudBytes(cloud, l));
                expectCloud(kxply::PLYData(in), cloud);
            }
        }
    }
    // The other read paths: a pipe of unknown length and a file; in text, so that values straddle the
    // pipe's pieces (the model fuzz target compares binary pipes with whole reads).
    const kxtest::Cloud cloud = kxtest::makeCloud(300, 2);
    const std::string bytes = kxtest::cloudBytes(cloud, layouts[1]);
    kxtest::PipeStream pipe(bytes, 1000);
    expectCloud(kxply::PLYData(pipe), cloud);
    kxtest::TempDir dir;
    kxtest::writeFile(dir / "cloud.ply", bytes);
    expectCloud(kxply::PLYData((dir / "cloud.ply").string(), false), cloud);
    EXPECT_THROW(kxply::PLYData((dir / "missing.ply").string()), std::runtime_error);
}

TEST(PlyReader, HeaderOddities) {
    // Windows line ends, obj_info and blank header lines.
    std::istringstream crlf(
        "ply\r\nformat ascii 1.0\r\nobj_info made by hand\r\n\r\nelement vertex 2\r\nproperty float x\r\n"
        "property float y\r\nproperty float z\r\nend_header\r\n1 2 3\r\n+4 -5e1 .5\r\n");
    EXPECT_EQ(kxply::PLYData(crlf).getVertexPositions(),
              (std::vector<std::array<double, 3>>{{1, 2, 3}, {4, -50, 0.5}}));
}

// A small valid file around the given vertex header and data.
std::string asciiFile(const std::string& vertexHeader, const std::string& data, size_t count = 1) {
    return "ply\nformat ascii 1.0\nelement vertex " + std::to_string(count) + "\n" + vertexHeader +
           "end_header\n" + data;
}
const std::string kXyz = "property float x\nproperty float y\nproperty float z\n";

enum class Stage { kParse, kPositions };

struct ErrorCase {
    const char* name;
    std::string bytes;
    Stage stage;
    std::string message;
};

// The texts of the accessors are the documented ones; an ASCII error names its line.
const ErrorCase kErrors[] = {
    {"no vertex", "ply\nformat ascii 1.0\nelement face 0\nproperty list uchar int v\nend_header\n",
     Stage::kPositions, "PLY parser: no element with name: vertex"},
    {"no z", asciiFile("property float x\nproperty float y\n", "1 2\n"), Stage::kPositions,
     "PLY parser: element vertex does not have property z"},
    {"int x", asciiFile("property int x\nproperty float y\nproperty float z\n", "1 2 3\n"), Stage::kPositions,
     "PLY parser: property x cannot be coerced to requested type double. Has type int"},
    {"ascii cut", asciiFile(kXyz, "1 2 3\n4 5    ", 2), Stage::kParse,
     "PLY parser: unexpected end of file in element vertex"},
    {"ascii bad number", asciiFile(kXyz, "1 2.5x 3\n"), Stage::kParse,
     "PLY parser: cannot read '2.5x' as float in line 8 (element vertex, property y)"},
    {"ascii colour too big", asciiFile(kXyz + "property uchar red\n", "1 2 3 256\n"), Stage::kParse,
     "PLY parser: cannot read '256' as uchar in line 9 (element vertex, property red)"},
    {"ascii negative list", asciiFile(kXyz + "property list char int n\n", "1 2 3 -1\n"), Stage::kParse,
     "PLY parser: negative list length in line 9 (element vertex)"},
    // Each entry is one line, and values that are not kept must read as their type too.
    {"ascii entry across lines", asciiFile(kXyz, "1 2 3 4\n5 6 7\n", 2), Stage::kParse,
     "PLY parser: too many values in line 8 (element vertex)"},
    {"ascii short line", asciiFile(kXyz, "1 2    \n3 4 5\n", 2), Stage::kParse,
     "PLY parser: too few values in line 8 (element vertex)"},
    {"ascii unkept value", asciiFile(kXyz + "property int flags\n", "1 2 3 x\n"), Stage::kParse,
     "PLY parser: cannot read 'x' as int in line 9 (element vertex, property flags)"},
    {"binary negative list",
     "ply\nformat binary_big_endian 1.0\nelement face 1\nproperty list char int v\nend_header\n\xff",
     Stage::kParse, "PLY parser: negative list length in element face"},
};

// The message of the reader's error by the given stage, or "(no error)".
std::string errorAt(Stage stage, std::istream& in) {
    try {
        const kxply::PLYData ply(in);
        if (stage == Stage::kPositions) {
            ply.getVertexPositions();
        }
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(PlyReader, ErrorsNameTheProblem) {
    for (const ErrorCase& c : kErrors) {
        std::istringstream in(c.bytes);
        EXPECT_EQ(errorAt(c.stage, in), c.message) << c.name;
    }
    // Headers it cannot understand: no magic, an unknown format, no end, an unknown type, a bad count.
    for (const std::string& header :
         {std::string("plx\nformat ascii 1.0\n"),
          std::string("ply\nformat binary_middle_endian 1.0\nend_header\n"),
          std::string("ply\nformat ascii 1.0\nelement vertex 0\n"), asciiFile("property float16 x\n", ""),
          std::string("ply\nformat ascii 1.0\nelement vertex -3\nend_header\n")}) {
        std::istringstream in(header);
        EXPECT_EQ(errorAt(Stage::kParse, in).rfind("PLY parser: ", 0), 0u) << header;
    }
}

}  // namespace
