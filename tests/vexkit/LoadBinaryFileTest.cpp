#include <utility>

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"
#include "vexkit/Assert.h"
#include "vexkit/cpp_utils.h"

// Reading whole files is exercised by every image read; the refusals are not.
TEST(LoadBinaryFile, MissingFileOrDirectoryFailsARequirementWithoutPrinting) {
    kxtest::TempDir dir;
    testing::internal::CaptureStdout();
    // A directory is refused before anything is allocated.
    for (const auto& [file, expression] :
         {std::pair(dir / "missing.bin", "fin.good()"), std::pair(dir.path(), "!isDirectory")}) {
        try {
            vexkit::loadBinaryFile<char>(file);
            ADD_FAILURE() << "loaded " << file;
        } catch (const AssertionFailure& e) {
            EXPECT_STREQ(e.what(), expression);
            EXPECT_STREQ(e.function, "loadBinaryFile");
        }
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}
