#include <stdexcept>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "vexkit/FileType.h"

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
