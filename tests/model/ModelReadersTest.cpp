// The sparse model reader, and the PLY reader on clouds written by the tests in every layout and on the
// real clouds of the shared sample folder (what each file holds is documented beside it).
#include <cmath>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <variant>

#include <gtest/gtest.h>

#include "model/KsmArchive.h"
#include "model/KsmModel.h"
#include "model/PlyData.h"
#include "tests/model/KsmSamples.h"
#include "tests/model/PlySamples.h"
#include "tests/model/StreamHelpers.h"
#include "tests/support/TestSupport.h"
#include "vexkit/Exception.h"

namespace {

using namespace std::string_literals;

// The archive's error text, or "" when the read succeeded.
template <typename F>
std::string errorOf(F&& read) {
    try {
        read();
    } catch (const cereal::Exception& e) {
        return e.what();
    }
    return {};
}

std::string ourError(const std::string& bytes, bool pipe) {
    std::istringstream whole(bytes);
    kxtest::PipeStream piped(bytes, 5);
    return errorOf([&] { ksm::loadKsm(pipe ? static_cast<std::istream&>(piped) : whole); });
}

// What cereal's own portable archive says about the payload after the 12-byte header.
std::string cerealError(const std::string& bytes) {
    std::istringstream in(bytes.substr(12));
    ksm::Model<1u> m;
    return errorOf([&] { cereal::PortableBinaryInputArchive{in}(m); });
}

// Reading from a file is the headless run's and the viewer's way.
TEST(KsmReader, ReadsEveryShapeInBothByteOrdersFromStreamAndPipe) {
    const struct {
        const char* name;
        kxtest::KsmShape shape;
    } shapes[] = {
        {"empty", {}},
        {"full", {4, 3, 100, 6, 25}},
        // Kept byte for byte: UTF-8, bytes that are no UTF-8, an embedded NUL.
        {"non-ascii paths", {1, 1, 5, 3, 2, "Bilder/Flug ü 写真/\xff\xfe\0-"s}},
        // Over a megabyte of measurements: the pipe path grows the lists in several steps.
        {"large lists", {1, 1, 70000, 2, 60000}},
    };
    for (const auto& c : shapes) {
        SCOPED_TRACE(c.name);
        const ksm::Model<1u> model = kxtest::makeKsmModel(c.shape, 42);
        for (bool little : {true, false}) {
            SCOPED_TRACE(little ? "little-endian" : "big-endian");
            const std::string bytes = kxtest::ksmBytes(model, little);
            std::istringstream in(bytes + std::string(100, '\xee'));  // bytes after the model are not read
            EXPECT_EQ(std::get<ksm::Model<1u>>(ksm::loadKsm(in)), model);
            kxtest::PipeStream pipe(bytes);
            EXPECT_EQ(std::get<ksm::Model<1u>>(ksm::loadKsm(pipe)), model);
        }
    }
}

TEST(KsmReader, UnknownHeadersGiveTheEmptyAlternative) {
    const ksm::Model<1u> model = kxtest::makeKsmModel({1, 1, 3, 1, 1}, 3);
    const std::string good = kxtest::ksmBytes(model);
    EXPECT_EQ(good.substr(0, 12), std::string("\xdb\xdf\xe6\x86\xfe\x0a\x4c\x97\x01\x00\x00\x00", 12));
    // The good bytes with the header's bytes from `at` replaced.
    const auto patched = [&](size_t at, const std::string& bytes) {
        return good.substr(0, at) + bytes + good.substr(at + bytes.size());
    };
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"eleven bytes", good.substr(0, 11)},
        {"other magic", patched(5, "\x0b")},
        {"version 2", patched(8, "\x02")},
        {"magic big-endian", patched(0, "\x97\x4c\x0a\xfe\x86\xe6\xdf\xdb")},
    };
    for (const auto& c : cases) {
        std::istringstream in(c.bytes);
        EXPECT_EQ(ksm::loadKsm(in).index(), 0u) << c.name;
    }
    kxtest::TempDir dir;
    EXPECT_EQ(ksm::loadKsm(dir / "missing.ksm").index(), 0u);
    EXPECT_EQ(ksm::loadKsm(dir.path()).index(), 0u);  // a directory cannot be read as a file
}

// Every count is checked against the bytes left before the list is read: a cut inside any list must give
// the text that cereal's own reading gives. Huge counts are checked for their memory by the allocation test.
TEST(KsmReader, FileCutAfterTheHeaderFailsLikeCerealAtEveryByte) {
    const ksm::Model<1u> model = kxtest::makeKsmModel({2, 2, 5, 3, 3, "Flüge/"}, 11);
    for (bool little : {true, false}) {
        const std::string bytes = kxtest::ksmBytes(model, little);
        for (size_t cut = 12; cut < bytes.size(); ++cut) {
            const std::string part = bytes.substr(0, cut);
            const std::string expected = cerealError(part);
            ASSERT_NE(expected, "") << cut;
            ASSERT_EQ(ourError(part, false), expected) << "cut at " << cut;
            ASSERT_EQ(ourError(part, true), expected) << "cut at " << cut << " (pipe)";
        }
    }
    // Read from a file, the same text follows the file's name.
    kxtest::TempDir dir;
    const std::string part = kxtest::ksmBytes(model).substr(0, 40);
    kxtest::writeFile(dir / "cut.ksm", part);
    try {
        ksm::loadKsm(dir / "cut.ksm");
        ADD_FAILURE() << "a cut file read";
    } catch (const vexkit::FileError& e) {
        EXPECT_EQ(e.what(), "Cannot read " + (dir / "cut.ksm").u8string() + ": " + cerealError(part));
    }
}

using kxtest::CloudLayout;
using kxtest::PlyOut;

void expectCloud(const kxply::PLYData& ply, const kxtest::Cloud& cloud) {
    EXPECT_EQ(ply.getVertexPositions(), cloud.positions);
    EXPECT_EQ(ply.getVertexColors(), cloud.colors);
}

TEST(PlyReader, EveryFormatAndElementOrderReadsTheSameCloud) {
    // Plain, doubles among extra properties of every width with faces first, and floating colours.
    const CloudLayout layouts[] = {{PlyOut::kAscii, "float32", "uint8"},
                                   {PlyOut::kAscii, "double", "uchar", true, 40, true},
                                   {PlyOut::kAscii, "float", "float", true},
                                   {PlyOut::kAscii, "double", "double"}};
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

const std::string kNoRed = "PLY parser: element vertex does not have property red";

struct Sample {
    const char* file;  // the end of the file name, unique in the folder
    size_t nbVertices;
    std::string colorError;  // empty: the colours read
};

const Sample kSamples[] = {
    {"assimp_float-color_ascii.ply", 3, ""},
    {"assimp_points_ascii_rgb-then-normals.ply", 4, ""},
    {"bundler_kermit_points009_face-before-vertex.ply", 649, ""},
    {"platonic_shelf_ascii_double_face-first.ply", 50, kNoRed},
    {"platonic_shelf_binbe_double_faces.ply", 50, kNoRed},
    {"pdal_issue_2421_float64_int32.ply", 1, kNoRed},
    {"pdal_text_extradim_char-blue_alpha.ply", 1, ""},
    {"pond.0_binle_diffuse-rgb_psz.ply", 70051, ""},
    {"trimesh_empty_binle_zero-vertices.ply", 0, kNoRed},
    {"trimesh_reference_binle_rgba_faces.ply", 845, ""},
    {"derived/kermit_binbe_double_rgb.ply", 9597, ""},
};

// The sample whose name ends with `suffix` (the names start with where each file came from).
std::string sample(const std::filesystem::path& data, const std::string& suffix) {
    const std::filesystem::path dir = (data / "ply" / suffix).parent_path();
    const std::string name = std::filesystem::path(suffix).filename().string();
    std::string found;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string n = entry.path().filename().string();
        if (n.size() >= name.size() && n.compare(n.size() - name.size(), name.size(), name) == 0) {
            EXPECT_EQ(found, "") << "two samples end with " << suffix;
            found = entry.path().string();
        }
    }
    EXPECT_NE(found, "") << "no sample ends with " << suffix;
    return found;
}

TEST(PlySamples, EachFileReadsItsVerticesOrRefusesItsColours) {
    KX_REQUIRE_SHARED_TESTDATA(data);
    for (const Sample& s : kSamples) {
        SCOPED_TRACE(s.file);
        const kxply::PLYData ply(sample(data, s.file), false);
        const auto& positions = ply.getVertexPositions();
        EXPECT_EQ(positions.size(), s.nbVertices);
        for (const auto& p : positions) {
            ASSERT_TRUE(std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]));
        }
        std::string colorError;
        try {
            EXPECT_EQ(ply.getVertexColors().size(), s.nbVertices);
        } catch (const std::runtime_error& e) {
            colorError = e.what();
        }
        EXPECT_EQ(colorError, s.colorError);
    }
    // Doubles are read at full precision.
    const kxply::PLYData pdal(sample(data, "pdal_issue_2421_float64_int32.ply"));
    EXPECT_DOUBLE_EQ(pdal.getVertexPositions().at(0)[2], 1234567890.12345);
}

}  // namespace
