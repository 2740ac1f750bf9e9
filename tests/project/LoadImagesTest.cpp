#include <atomic>
#include <future>
#include <stdexcept>

#include <gtest/gtest.h>

#include "project/LoadImages.h"
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
