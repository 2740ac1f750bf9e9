#include <filesystem>

#include <QString>
#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"
#include "vexkit/Paths.h"

// A name outside the BMP, a surrogate pair in Qt; the window's project directory test takes CJK text
// with a space through the same conversions.
TEST(Paths, QtStringsSurviveTheRoundTripAndNameTheSameFileOnDisk) {
    kxtest::TempDir dir;
    const char* const name = u8"\U0001F4F7 camera.jpg";
    const QString text = QString::fromUtf8(name);
    EXPECT_EQ(toQStr(toPath(text)), text);
    EXPECT_EQ(toPath(text).u8string(), name);
    kxtest::writeFile(dir.path() / toPath(text), name);
    EXPECT_EQ(toQStr(std::filesystem::directory_iterator(dir.path())->path().filename()), text);
    EXPECT_EQ(kxtest::readFile(dir.path() / toPath(text)), name);
}
