// The small pieces of vexkit: assertions, whole-file reads, file types, Qt paths, resources and MD5.
#include <algorithm>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>
#include <type_traits>
#include <utility>

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"
#include "vexkit/Assert.h"
#include "vexkit/FileKey.h"
#include "vexkit/FileType.h"
#include "vexkit/Md5.h"
#include "vexkit/Paths.h"
#include "vexkit/Resources.h"
#include "vexkit/cpp_utils.h"

namespace {
template <size_t N>
std::string str(const std::array<char, N>& a) {
    return std::string(a.data(), a.size());
}

template <typename F>
void expectFilesystemError(F call, const char* path, std::errc code) {
    try {
        call();
        ADD_FAILURE() << "no error for " << path;
    } catch (const std::filesystem::filesystem_error& e) {
        EXPECT_EQ(e.code(), std::make_error_code(code)) << path;
        EXPECT_EQ(e.path1().string(), path);
    }
}
}  // namespace

// Callers catch broadly: vexkit::AssertionFailure is a vexkit::Exception is a std::runtime_error; the
// global one is a plain std::exception, deliberately outside that family.
static_assert(std::is_base_of_v<vexkit::Exception, vexkit::AssertionFailure> &&
              std::is_base_of_v<std::runtime_error, vexkit::Exception>);
static_assert(std::is_base_of_v<std::exception, AssertionFailure> &&
              !std::is_base_of_v<std::runtime_error, AssertionFailure>);

TEST(Assert, FailuresCarryTheirSiteAndOnlyAssertionsAndWarningsPrint) {
    int calls = 0;
    auto check = [&] { return ++calls > 0; };
    testing::internal::CaptureStdout();
    VEXKIT_ASSERT(check());
    VEXKIT_REQUIRE(check());
    VEXKIT_WARN_UNLESS(check());
    EXPECT_EQ(calls, 3);  // each condition is evaluated once
    int assertLine = 0;
    try {
        // clang-format off
        assertLine = __LINE__; VEXKIT_ASSERT(1 + 1 == 3);
        // clang-format on
        ADD_FAILURE() << "no throw";
    } catch (const vexkit::AssertionFailure& e) {
        EXPECT_STREQ(e.what(), "1 + 1 == 3");
        EXPECT_STREQ(e.file, "CoreTest");
        EXPECT_EQ(e.line, assertLine);
    }
    // clang-format off
    const int warnLine = __LINE__; VEXKIT_WARN_UNLESS(2 < 1);
    // clang-format on
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error CoreTest:" + std::to_string(assertLine) + ": failed assertion 1 + 1 == 3\n" +
                  "Warning: 2 < 1 at CoreTest:" + std::to_string(warnLine) + "\n");
}

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

TEST(FileType, ClassifiesTheLastExtensionInAnyCase) {
    const struct {
        const char* name;
        FileType type;
        const char* canonical;
    } rows[] = {
        {"photo.Jpeg", FileType::kJpg, ".jpg"},
        {"cfg.YML", FileType::kYaml, ".yaml"},
        {"/abs/a.b.c.heic", FileType::kHeif, ".heif"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(fileTypeOf(getFileExtension(row.name)), row.type) << row.name;
        EXPECT_STREQ(extensionOf(row.type), row.canonical) << row.name;
    }
    // Only the last extension counts, and a hidden file's leading dot is none.
    for (const char* name : {"archive.tar.gz", "README", ".hidden", "photo.", "dir.jpg/file"}) {
        EXPECT_THAT([name] { fileTypeOf(getFileExtension(name)); },
                    testing::ThrowsMessage<std::runtime_error>(testing::StrEq("unknown extension")))
            << name;
    }
    // Whatever the process locale, only ASCII letters are lowered; UTF-8 sequences stay intact.
    EXPECT_EQ(getFileExtension(std::filesystem::u8path(u8"photo.JPG\u00c9")), u8".jpg\u00c9");
    EXPECT_EQ(getFileExtension(std::filesystem::u8path(u8"\u0424\u041e\u0422\u041e.HEIC")), ".heic");
    // The numbers travel with transferred files (the protocol's golden texts pin them): only known kinds
    // have extensions.
    for (uint32_t i = 0; i <= 8; ++i) {
        EXPECT_EQ(fileTypeOf(extensionOf(static_cast<FileType>(i))), static_cast<FileType>(i)) << i;
    }
    EXPECT_THAT([] { extensionOf(static_cast<FileType>(9)); },
                testing::ThrowsMessage<std::logic_error>(testing::StrEq("invalid file type")));
}

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

// The icon and the shaders are read by the viewer tests; what they never ask for is checked here.
TEST(Resources, OnlyFilesOpenAndUnknownPathsFailAsMissingNamingThePath) {
    const auto pictures = vexkit::listResources("resources");
    EXPECT_NE(std::find(pictures.begin(), pictures.end(), "resources/camera.png"), pictures.end());
    expectFilesystemError([] { vexkit::openResource("shaders"); }, "shaders", std::errc::is_a_directory);
    expectFilesystemError([] { vexkit::listResources("resources/camera.png"); }, "resources/camera.png",
                          std::errc::not_a_directory);
    for (const char* path : {"shaders/none.glsl", "/resources/camera.png", "RESOURCES/camera.png"}) {
        EXPECT_EQ(vexkit::findResource(path), nullptr) << path;
        expectFilesystemError([path] { vexkit::openResource(path); }, path,
                              std::errc::no_such_file_or_directory);
    }
}

// Random bytes, high ones included, against an independent MD5: at the padding boundaries of a block (55,
// 56 and 64 bytes) and around the pieces the file is read in.
TEST(Md5, EveryFormOfTheDigestMatchesAnIndependentMd5) {
    constexpr size_t kPiece = 256 * 1024;
    kxtest::TempDir dir;
    const std::string file = (dir / "data.bin").string();
    for (size_t size : {size_t{0}, size_t{1}, size_t{55}, size_t{56}, size_t{63}, size_t{64}, kPiece - 1,
                        kPiece, kPiece + 1, 3 * kPiece + 17}) {
        SCOPED_TRACE(size);
        std::mt19937 gen(static_cast<unsigned>(size));
        std::string bytes(size, '\0');
        for (char& c : bytes) {
            c = static_cast<char>(gen());
        }
        kxtest::writeFile(file, bytes);
        const QByteArray expected =
            QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Md5);
        EXPECT_EQ(str(md5sumHex(file.c_str())), expected.toHex().toStdString());
        EXPECT_EQ(str(encode64(vexkit::md5sum(file.c_str()))), expected.toBase64().toStdString());
        EXPECT_EQ(str(FileKey(md5sumHex(file.c_str())).base64()), expected.toBase64().toStdString());
    }
    // A file that cannot be opened, or a directory, reads as no bytes; the words read big-endian from the
    // digest bytes.
    const std::string empty = "d41d8cd98f00b204e9800998ecf8427e";
    EXPECT_EQ(str(md5sumHex((dir / "missing.jpg").string().c_str())), empty);
    EXPECT_EQ(str(md5sumHex(dir.path().string().c_str())), empty);
    const vexkit::Md5Digest words = vexkit::md5sum(dir.path().string().c_str());
    EXPECT_EQ(words[0], 0xd41d8cd9u);
    EXPECT_EQ(words[3], 0xecf8427eu);
}
