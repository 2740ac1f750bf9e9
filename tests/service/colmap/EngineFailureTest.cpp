#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "service/TaskContext.h"
#include "service/colmap/ColmapSfm.h"
#include "tests/support/TestSupport.h"

namespace {

// A stand-in for colmap: `case` branches on the subcommand, every other subcommand succeeds.
std::filesystem::path standIn(const kxtest::TempDir& dir, const std::string& cases) {
    const auto path = dir / "colmap";
    kxtest::writeFile(path, "#!/bin/sh\ncase \"$1\" in\n" + cases + "\nesac\nexit 0\n");
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
}

struct Outcome {
    std::string reason;
    std::string log;
    std::vector<float> progress;
    double seconds = 0;
};

Outcome runTask(const std::string& cases, unsigned timeout, int cancelAfterMs = -1) {
    kxtest::TempDir dir;
    std::filesystem::create_directories(dir / "task");
    kxtest::writeFile(dir / "photo", "not decoded by the stand-in");
    kxservice::SfmJob job;
    SfmCfg::Image image;
    image.key = FileKey(encodeHex({1, 2, 3, 4}));
    image.name = "/photos/a.jpg";
    job.cfg.cameras.push_back({1024, 768, 1000, 1000, 512, 384, 0, 0, 0, 0, 0});
    job.cfg.images = {image, image};
    std::atomic<bool> cancel{false};
    Outcome out;
    kxservice::TaskContext context(
        dir / "task", {{image.key, dir / "photo"}}, [&](float r) { out.progress.push_back(r); }, cancel);
    kxcolmap::RunOptions options;
    options.program = standIn(dir, cases).string();
    options.taskTimeout = timeout;
    std::thread canceller;
    if (cancelAfterMs >= 0) {
        canceller = std::thread([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(cancelAfterMs));
            cancel = true;
        });
    }
    const auto start = std::chrono::steady_clock::now();
    try {
        kxcolmap::runSfm(job, context, options);
        out.reason = "succeeded";
    } catch (const std::runtime_error& e) {
        out.reason = e.what();
    }
    out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (canceller.joinable()) {
        canceller.join();
    }
    out.log = kxtest::readFile(context.logFile());
    return out;
}

// Every way a subprocess can fail ends the task with a reason that names it (what reaches the client in
// the failed stage), soon, with the subprocess's own output in the task log.
TEST(ColmapEngine, FailingSubprocessesFailTheTaskWithTheirReason) {
    const struct {
        const char* cases;
        unsigned timeout;
        int cancelAfterMs;
        const char* reason;
        const char* logged;
    } rows[] = {
        {"feature_extractor) echo 'bad input' >&2; exit 3;;", 0, -1,
         "colmap feature_extractor exited with status 3 (see the task log)", "bad input"},
        {"sequential_matcher) echo 'matching'; kill -SEGV $$;;", 0, -1,
         "colmap sequential_matcher killed by signal 11 (see the task log)", "matching"},
        {"feature_extractor) echo 'slow'; sleep 30;;", 1, -1,
         "colmap feature_extractor timed out: the task's limit is 1 s", "slow"},
        {"mapper) echo 'Registering image #4 (1)'; exit 1;;", 0, -1,
         "no model: colmap mapper registered no images, even with relaxed settings",
         "relaxed mapping registered 0 of 2 images"},
        {"sequential_matcher) echo 'waiting'; sleep 30;;", 0, 300, "cancelled", "waiting"},
    };
    for (const auto& row : rows) {
        const Outcome out = runTask(row.cases, row.timeout, row.cancelAfterMs);
        EXPECT_EQ(out.reason, row.reason);
        EXPECT_NE(out.log.find(row.logged), std::string::npos) << out.log;
        EXPECT_LT(out.seconds, 8) << row.reason;
        EXPECT_TRUE(std::is_sorted(out.progress.begin(), out.progress.end())) << row.reason;
    }
}

}  // namespace
