#include <cstddef>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"
#include "vexkit/Assert.h"
#include "vexkit/cpp_utils.h"

namespace {
template <typename T>
std::string asString(const std::vector<T>& data) {
    return std::string(reinterpret_cast<const char*>(data.data()), data.size());
}

// The requirement failure of loadBinaryFile: which check, where, and that it names the function.
void expectRequirementFailure(const std::filesystem::path& file, const char* expression) {
    try {
        vexkit::loadBinaryFile<char>(file);
        ADD_FAILURE() << "loaded " << file;
    } catch (const AssertionFailure& e) {
        EXPECT_STREQ(e.what(), expression);
        EXPECT_STREQ(e.file, "cpp_utils");
        EXPECT_STREQ(e.function, "loadBinaryFile");
        EXPECT_GT(e.line, 0);
    }
}
}  // namespace

TEST(LoadBinaryFile, ReadsEveryByteForEachElementType) {
    kxtest::TempDir dir;
    std::string bytes;
    for (int i = 0; i < 512; ++i) {
        bytes.push_back(static_cast<char>(i));  // every byte value, twice
    }
    const std::filesystem::path file = dir / "bytes.bin";
    kxtest::writeFile(file, bytes);
    EXPECT_EQ(asString(vexkit::loadBinaryFile<char>(file)), bytes);
    EXPECT_EQ(asString(vexkit::loadBinaryFile<unsigned char>(file)), bytes);
    EXPECT_EQ(asString(vexkit::loadBinaryFile<signed char>(file)), bytes);
    EXPECT_EQ(asString(vexkit::loadBinaryFile<std::byte>(file.string().c_str())), bytes);
    kxtest::writeFile(dir / "empty", "");
    EXPECT_TRUE(vexkit::loadBinaryFile<unsigned char>(dir / "empty").empty());
}

TEST(LoadBinaryFile, MissingFileOrDirectoryFailsARequirementWithoutPrinting) {
    kxtest::TempDir dir;
    testing::internal::CaptureStdout();
    expectRequirementFailure(dir / "missing.bin", "fin.good()");
    // A directory is refused before anything is allocated.
    expectRequirementFailure(dir.path(), "!isDirectory");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}
