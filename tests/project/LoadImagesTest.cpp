#include <atomic>
#include <future>
#include <stdexcept>

#include <QTimer>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "project/LoadImages.h"
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

// The dashboard's wait runs the event loop while the workers load: here only a timer firing during the
// load, once the later file has finished, releases the first file; progress and results still come in
// file order.
TEST(LoadImages, ResponsiveWaitRunsTimersAndKeepsFileOrderWhenLaterFilesFinishFirst) {
    ThreadPool pool(2);
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> laterDone{false};
    bool releasedByTimer = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (laterDone && !std::exchange(releasedByTimer, true)) {
            release.set_value();
        }
    });
    timer.start(1);
    const ImageLoader loader = [&](const char* file) {
        if (std::string(file) == "a") {
            released.wait_for(std::chrono::seconds(10));
        } else {
            laterDone = true;
        }
        return recordOnly(file);
    };
    Progress progress;
    const auto images = loadEachResponsive(pool, {"a", "b"}, recordInto(progress), loader);
    EXPECT_TRUE(releasedByTimer);
    EXPECT_EQ(progress, (Progress{{0, 2}, {1, 2}}));
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].image->file + images[1].image->file, "ab");
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
    const auto load = [&] { loadImages(pool, {"a", "b", "c", "d"}, recordInto(progress), loader); };
    EXPECT_THAT(load, testing::ThrowsMessage<std::runtime_error>(testing::StrEq("b is unreadable")));
    EXPECT_EQ(progress, (Progress{{0, 4}}));
    pool.stop();  // the tasks after the failure still ran, on a loader they own
    EXPECT_EQ(nbRun.load(), 4);
}
