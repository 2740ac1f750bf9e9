#include <cstddef>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"
#include "vexkit/Assert.h"
#include "vexkit/cpp_utils.h"

namespace {
std::string everyByteTwice() {
    std::string bytes;
    for (int round = 0; round < 2; ++round) {
        for (int b = 0; b < 256; ++b) {
            bytes.push_back(static_cast<char>(b));
        }
    }
    return bytes;
}

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
        EXPECT_STREQ(e.expression, expression);
        EXPECT_STREQ(e.what(), expression);
        EXPECT_STREQ(e.file, "cpp_utils");
        EXPECT_STREQ(e.function, "loadBinaryFile");
        EXPECT_GT(e.line, 0);
    }
}
}  // namespace

TEST(LoadBinaryFile, ReadsEveryByteForEachElementType) {
    kxtest::TempDir dir;
    const std::string bytes = everyByteTwice();
    kxtest::writeFile(dir / "bytes.bin", bytes);
    const std::filesystem::path file = dir / "bytes.bin";
    EXPECT_EQ(asString(vexkit::loadBinaryFile<char>(file)), bytes);
    EXPECT_EQ(asString(vexkit::loadBinaryFile<unsigned char>(file)), bytes);
    EXPECT_EQ(asString(vexkit::loadBinaryFile<signed char>(file)), bytes);
    EXPECT_EQ(asString(vexkit::loadBinaryFile<std::byte>(file.string().c_str())), bytes);
}

TEST(LoadBinaryFile, EmptyFileGivesEmptyVector) {
    kxtest::TempDir dir;
    kxtest::writeFile(dir / "empty", "");
    EXPECT_TRUE(vexkit::loadBinaryFile<unsigned char>(dir / "empty").empty());
}

TEST(LoadBinaryFile, MissingFileFailsTheStreamRequirementWithoutPrinting) {
    kxtest::TempDir dir;
    testing::internal::CaptureStdout();
    expectRequirementFailure(dir / "missing.bin", "fin.good()");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(LoadBinaryFile, DirectoryIsRefusedBeforeAnythingIsAllocated) {
    kxtest::TempDir dir;
    expectRequirementFailure(dir.path(), "!isDirectory");
}
