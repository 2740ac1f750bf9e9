#include <stdexcept>

#include <gtest/gtest.h>

#include "vexkit/FileType.h"

TEST(FileType, ClassifiesExtensionsInAnyCase) {
    EXPECT_EQ(fileTypeOf(getFileExtension("photo.JPG")), FileType::kJpg);
    EXPECT_EQ(fileTypeOf(getFileExtension("photo.Jpeg")), FileType::kJpg);
    EXPECT_EQ(fileTypeOf(getFileExtension("scan.HEIC")), FileType::kHeif);
    EXPECT_EQ(fileTypeOf(getFileExtension("cfg.YML")), FileType::kYaml);
    EXPECT_STREQ(extensionOf(FileType::kHeif), ".heif");
    EXPECT_STREQ(extensionOf(FileType::kYaml), ".yaml");
}

TEST(FileType, RejectsUnknownAndMissingExtensions) {
    EXPECT_EQ(getFileExtension("archive.tar.gz"), ".gz");
    EXPECT_EQ(getFileExtension("README"), "");
    EXPECT_EQ(getFileExtension(".hidden"), "");
    for (const char* name : {"archive.tar.gz", "README", ".hidden"}) {
        try {
            fileTypeOf(getFileExtension(name));
            ADD_FAILURE() << name;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "unknown extension");
        }
    }
    EXPECT_THROW(extensionOf(static_cast<FileType>(9)), std::logic_error);
}
