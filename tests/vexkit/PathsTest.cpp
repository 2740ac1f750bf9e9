#include <filesystem>

#include <QString>
#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"
#include "vexkit/Paths.h"

TEST(Paths, QtStringsSurviveTheRoundTripAndNameTheSameFileOnDisk) {
    kxtest::TempDir dir;
    for (const char* name : {
             u8"\u5199\u771f \u753b\u50cf.heic",  // CJK with a space
             u8"\U0001F4F7 camera.jpg",           // outside the BMP (a surrogate pair in Qt)
         }) {
        const QString text = QString::fromUtf8(name);
        EXPECT_EQ(toQStr(toPath(text)), text) << name;
        EXPECT_EQ(toPath(text).u8string(), name);
        kxtest::writeFile(dir.path() / toPath(text), name);
        EXPECT_EQ(toQStr(std::filesystem::directory_iterator(dir.path())->path().filename()), text);
        EXPECT_EQ(kxtest::readFile(dir.path() / toPath(text)), name);
        std::filesystem::remove(dir.path() / toPath(text));
    }
}
