#include <cstddef>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"
#include "vexkit/Assert.h"
#include "vexkit/cpp_utils.h"

TEST(LoadBinaryFile, ReadsEveryByte) {
    kxtest::TempDir dir;
    std::string bytes;
    for (int i = 0; i < 512; ++i) {
        bytes.push_back(static_cast<char>(i));  // every byte value, twice
    }
    kxtest::writeFile(dir / "bytes.bin", bytes);
    const std::vector<std::byte> data =
        vexkit::loadBinaryFile<std::byte>((dir / "bytes.bin").string().c_str());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data.data()), data.size()), bytes);
    kxtest::writeFile(dir / "empty", "");
    EXPECT_TRUE(vexkit::loadBinaryFile<unsigned char>(dir / "empty").empty());
}

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
