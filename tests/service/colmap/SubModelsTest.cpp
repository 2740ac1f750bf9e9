#include <gtest/gtest.h>

#include "service/colmap/Alignment.h"
#include "service/colmap/SubModels.h"
#include "tests/support/TestSupport.h"

namespace {

std::string le64(uint64_t v) {
    std::string bytes(8, '\0');
    for (int i = 0; i < 8; ++i) {
        bytes[i] = char(v >> (8 * i));
    }
    return bytes;
}

TEST(SubModels, TheMostImagesWinThenTheMostPoints) {
    kxtest::TempDir dir;
    const struct {
        const char* name;
        uint64_t nbImages, nbPoints;
        bool withPoints;
    } models[] = {{"0", 5, 900, true}, {"1", 7, 10, true}, {"2", 7, 300, true}, {"3", 9, 0, false}};
    for (const auto& m : models) {
        std::filesystem::create_directories(dir / m.name);
        kxtest::writeFile(dir / m.name / "images.bin", le64(m.nbImages) + "rest");
        if (m.withPoints) {
            kxtest::writeFile(dir / m.name / "points3D.bin", le64(m.nbPoints));
        }
    }
    const auto best = kxcolmap::largestSubModel(dir.path());
    ASSERT_TRUE(best);
    EXPECT_EQ(best->dir, dir / "2");
    EXPECT_EQ(best->size.nbPoints, 300u);
    EXPECT_FALSE(kxcolmap::largestSubModel(dir / "absent"));
}

TEST(Alignment, ReadsTheAlignersSummary) {
    const struct {
        const char* output;
        bool found, succeeded;
        double mean;
    } rows[] = {
        {" => Using 8 reference images\n=> Alignment error: 0.056772 (mean), 0.048462 (median)\n"
         "=> Alignment succeeded\n",
         true, true, 0.056772},
        {"=> Alignment error: 6357539.9 (mean), 6357472.6 (median)\n=> Alignment failed\n", true, false,
         6357539.9},
        {"Aligning reconstruction to custom\n", false, false, 0},
    };
    for (const auto& row : rows) {
        const auto result = kxcolmap::parseAlignment(row.output);
        ASSERT_EQ(bool(result), row.found) << row.output;
        if (result) {
            EXPECT_EQ(result->succeeded, row.succeeded);
            EXPECT_DOUBLE_EQ(result->meanError, row.mean);
        }
    }
}

}  // namespace
