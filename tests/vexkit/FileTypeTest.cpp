#include <stdexcept>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "vexkit/FileType.h"

TEST(FileType, ClassifiesEveryRecognisedExtensionInAnyCase) {
    const struct {
        const char* name;
        FileType type;
        const char* canonical;
    } rows[] = {
        {"photo.jpg", FileType::kJpg, ".jpg"},         {"photo.JPG", FileType::kJpg, ".jpg"},
        {"photo.Jpeg", FileType::kJpg, ".jpg"},        {"sky.AVIF", FileType::kAvif, ".avif"},
        {"scan.heif", FileType::kHeif, ".heif"},       {"scan.HEIC", FileType::kHeif, ".heif"},
        {"next.jxl", FileType::kJxl, ".jxl"},          {"sfm.JSON", FileType::kJson, ".json"},
        {"cfg.yaml", FileType::kYaml, ".yaml"},        {"cfg.YML", FileType::kYaml, ".yaml"},
        {"cloud.Ply", FileType::kPly, ".ply"},         {"model.nvm", FileType::kNvm, ".nvm"},
        {"model.KSM", FileType::kKsm, ".ksm"},         {"dir.v2/photo.jpg", FileType::kJpg, ".jpg"},
        {"/abs/a.b.c.heic", FileType::kHeif, ".heif"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(fileTypeOf(getFileExtension(row.name)), row.type);
        EXPECT_STREQ(extensionOf(row.type), row.canonical);
    }
}

TEST(FileType, NumberingIsFixedAndOnlyKnownKindsHaveCanonicalExtensions) {
    // The numbers travel with transferred files.
    EXPECT_EQ(static_cast<uint32_t>(FileType::kJpg), 0u);
    EXPECT_EQ(static_cast<uint32_t>(FileType::kHeif), 2u);
    EXPECT_EQ(static_cast<uint32_t>(FileType::kKsm), 8u);
    for (uint32_t i = 0; i <= 8; ++i) {
        const auto type = static_cast<FileType>(i);
        EXPECT_EQ(fileTypeOf(extensionOf(type)), type) << i;
    }
    for (uint32_t value : {9u, 100u, 0xFFFFFFFFu}) {
        EXPECT_THAT([value] { extensionOf(static_cast<FileType>(value)); },
                    testing::ThrowsMessage<std::logic_error>(testing::StrEq("invalid file type")));
    }
}

TEST(FileType, NamesWithoutAKnownLastExtensionAreRejected) {
    const struct {
        const char* name;
        const char* extension;
    } rows[] = {
        {"archive.tar.gz", ".gz"},  // only the last extension counts
        {"photo.jpg.bak", ".bak"},
        {"README", ""},
        {".hidden", ""},  // the leading dot of a hidden file is not an extension
        {"photo.", "."},
        {"dir.jpg/file", ""},
        {"..", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(getFileExtension(row.name), row.extension);
        EXPECT_THAT([&row] { fileTypeOf(getFileExtension(row.name)); },
                    testing::ThrowsMessage<std::runtime_error>(testing::StrEq("unknown extension")));
    }
    // Classification compares exactly: callers lowercase first.
    EXPECT_THROW(fileTypeOf(".JPG"), std::runtime_error);
    EXPECT_THROW(fileTypeOf("jpg"), std::runtime_error);
}

TEST(FileType, NonAsciiBytesOfAnExtensionAreLeftAsTheyAre) {
    // Whatever the process locale, only ASCII letters are lowered; UTF-8 sequences stay intact.
    EXPECT_EQ(getFileExtension(std::filesystem::u8path(u8"photo.JPG\u00c9")), u8".jpg\u00c9");
    EXPECT_EQ(getFileExtension(std::filesystem::u8path(u8"\u0424\u041e\u0422\u041e.HEIC")), ".heic");
}
