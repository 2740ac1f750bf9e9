#include <gtest/gtest.h>

#include "service/colmap/InputImages.h"
#include "tests/support/ImageFixtures.h"
#include "tests/support/TestSupport.h"
#include "vexkit/ImageReader.h"

namespace {

// Stored files have no extension; HEIF and AVIF reach the mapper as JPEG copies of the same pixels,
// JPEG as a link to the stored file itself.
TEST(InputImages, EveryPhotographFormatBecomesAJpegTheMapperReads) {
    const struct {
        const char* fixture;
        FileType format;
        vexkit::ImageFileType readAs;
        bool linked;
    } rows[] = {{"a.jpg", FileType::kJpg, vexkit::ImageFileType::kJpeg, true},
                {"a.heic", FileType::kHeif, vexkit::ImageFileType::kHeif, false},
                {"a.avif", FileType::kAvif, vexkit::ImageFileType::kAvif, false}};
    for (const auto& row : rows) {
        kxtest::TempDir dir;
        if (row.format == FileType::kJpg) {
            kxtest::writeJpeg(dir / row.fixture, 96, 64);
        } else {
            kxtest::writeHeif(dir / row.fixture, 96, 64);
        }
        std::filesystem::copy_file(dir / row.fixture, dir / "stored");
        const auto target = dir / kxcolmap::mapperName(7);
        kxcolmap::placeImage(dir / "stored", row.format, target);
        EXPECT_EQ(target.filename(), "00007.jpg");
        EXPECT_EQ(std::filesystem::is_symlink(target), row.linked) << row.fixture;

        const auto reader = vexkit::createImageReader();
        reader->setFile((dir / row.fixture).c_str(), row.readAs);
        const auto original = reader->decodeTo8UC3();
        reader->setFile(target.c_str(), vexkit::ImageFileType::kJpeg);
        EXPECT_GT(kxtest::psnr(reader->decodeTo8UC3(), original), 35) << row.fixture;
    }
}

}  // namespace
