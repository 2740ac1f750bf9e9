// The real clouds of the shared sample folder: what each file holds is documented beside it.
#include <cmath>
#include <filesystem>
#include <stdexcept>

#include <gtest/gtest.h>

#include "model/PlyData.h"
#include "tests/support/TestSupport.h"

namespace {

const std::string kNoRed = "PLY parser: element vertex does not have property red";

struct Sample {
    const char* file;  // the end of the file name, unique in the folder
    size_t nbVertices;
    std::string colorError;  // empty: the colours read
};

const Sample kSamples[] = {
    {"assimp_float-color_ascii.ply", 3,
     "PLY parser: property red cannot be coerced to requested type uchar. Has type float"},
    {"assimp_points_ascii_rgb-then-normals.ply", 4, ""},
    {"bundler_kermit_points009_face-before-vertex.ply", 649, kNoRed},
    {"platonic_shelf_ascii_double_face-first.ply", 50, kNoRed},
    {"platonic_shelf_binbe_double_faces.ply", 50, kNoRed},
    {"pdal_issue_2421_float64_int32.ply", 1, kNoRed},
    {"pdal_text_extradim_char-blue_alpha.ply", 1,
     "PLY parser: property blue cannot be coerced to requested type uchar. Has type char"},
    {"pond.0_binle_diffuse-rgb_psz.ply", 70051, kNoRed},
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
