#include <filesystem>

#include <QString>
#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"
#include "vexkit/Paths.h"

namespace {
const char* const kNames[] = {
    "plain.jpg",
    u8"\u0444\u043e\u0442\u043e.jpg",               // Cyrillic
    u8"\u5199\u771f \u753b\u50cf.heic",             // CJK with a space
    u8"\u0395\u03bb\u03bb\u03ac\u03b4\u03b1.avif",  // Greek with an accent
    u8"\U0001F4F7 camera.jpg",                      // outside the BMP (a surrogate pair in Qt)
    u8"cafe\u0301.jpg",                             // decomposed accent stays decomposed
    u8"\u05e2\u05d1\u05e8\u05d9\u05ea.json",        // right-to-left
};
}

TEST(Paths, QtStringsSurviveTheRoundTripAndNameTheSameFileOnDisk) {
    kxtest::TempDir dir;
    for (const char* name : kNames) {
        const QString text = QString::fromUtf8(name);
        SCOPED_TRACE(name);
        EXPECT_EQ(toQStr(toPath(text)), text);
        EXPECT_EQ(toPath(text).u8string(), name);
        const QString nested = QStringLiteral("/tmp/") + text + QStringLiteral("/") + text;
        EXPECT_EQ(toQStr(toPath(nested)), nested);

        kxtest::writeFile(dir.path() / toPath(text), name);
        bool found = false;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            found = found || toQStr(entry.path().filename()) == text;
        }
        EXPECT_TRUE(found);
        EXPECT_EQ(kxtest::readFile(dir.path() / toPath(text)), name);
    }
}
