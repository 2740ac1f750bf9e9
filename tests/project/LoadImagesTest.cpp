#include <atomic>
#include <future>
#include <stdexcept>

#include <QCryptographicHash>

#include <gtest/gtest.h>

#include "project/LoadImages.h"
#include "project/Thumbnail.h"
#include "tests/support/ImageFixtures.h"
#include "tests/support/TestSupport.h"
#include "vexkit/Assert.h"
#include "vexkit/ThreadPool.h"

namespace {

using Progress = std::vector<std::pair<unsigned, unsigned long long>>;

LoadProgress recordInto(Progress& progress) {
    return [&progress](unsigned i, unsigned long long n) { progress.emplace_back(i, n); };
}

std::unique_ptr<Image> recordOnly(const char* file) {
    auto image = std::make_unique<Image>();
    image->file = file;
    return image;
}

std::string md5Hex(const std::filesystem::path& file) {
    const QByteArray bytes = QByteArray::fromStdString(kxtest::readFile(file));
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex().toStdString();
}

}  // namespace

TEST(LoadImages, ProgressKeepsFileOrderWhenLaterFilesFinishFirst) {
    ThreadPool pool(3);
    std::promise<void> laterDone;  // "a" only finishes after "b" and "c"
    const std::shared_future<void> laterDoneFuture = laterDone.get_future().share();
    std::atomic<int> nbLater{0};
    const ImageLoader loader = [&](const char* file) {
        if (std::string(file) == "a") {
            laterDoneFuture.wait();
        } else if (++nbLater == 2) {
            laterDone.set_value();
        }
        return recordOnly(file);
    };
    Progress progress;
    const auto images = loadImages(pool, {"a", "b", "c"}, recordInto(progress), loader);
    EXPECT_EQ(progress, (Progress{{0, 3}, {1, 3}, {2, 3}}));
    ASSERT_EQ(images.size(), 3u);
    EXPECT_EQ(images[0]->file + images[1]->file + images[2]->file, "abc");
    progress.clear();
    EXPECT_TRUE(loadImages(pool, {}, recordInto(progress), loader).empty());
    EXPECT_TRUE(progress.empty());
}

TEST(LoadImages, FirstFailureInFileOrderIsRethrown) {
    ThreadPool pool(2);
    std::atomic<int> nbRun{0};
    const ImageLoader loader = [&](const char* file) {
        ++nbRun;
        if (std::string(file) == "b" || std::string(file) == "d") {
            throw std::runtime_error(std::string(file) + " is unreadable");
        }
        return recordOnly(file);
    };
    Progress progress;
    try {
        loadImages(pool, {"a", "b", "c", "d"}, recordInto(progress), loader);
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "b is unreadable");
    }
    EXPECT_EQ(progress, (Progress{{0, 4}}));
    pool.stop();  // the tasks after the failure still ran, on a loader they own
    EXPECT_EQ(nbRun.load(), 4);
}

TEST(LoadImages, RealFilesGetMetadataDigestAndThumbnail) {
    kxtest::TempDir dir;
    const auto jpeg = dir / "landscape.jpg";
    kxtest::writeJpeg(jpeg, 400, 300, kxtest::ImageTags().exifMake("DJI").exifGps(47.51, 8.5, 420.5));
    const auto heic = dir / "photo.heic";
    kxtest::writeHeif(heic, 128, 64, kxtest::ImageTags().focal35(24));

    Progress progress;
    const auto images = loadImages({jpeg.string(), heic.string()}, recordInto(progress));
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(progress, (Progress{{0, 2}, {1, 2}}));
    const Image& a = *images[0];
    EXPECT_EQ(a.file, jpeg.string());
    EXPECT_EQ(a.meta.width, 400u);
    EXPECT_TRUE(a.meta.hasBaro && a.meta.gps);
    EXPECT_EQ(std::string(encodeHex(a.md5).data(), 32), md5Hex(jpeg));
    EXPECT_EQ(a.icon.availableSizes(), QList<QSize>{QSize(192, 144)});
    const Image& b = *images[1];
    EXPECT_TRUE(b.meta.focal);
    EXPECT_EQ(std::string(encodeHex(b.md5).data(), 32), md5Hex(heic));
    EXPECT_EQ(b.icon.availableSizes(), QList<QSize>{QSize(192, 96)});
}
