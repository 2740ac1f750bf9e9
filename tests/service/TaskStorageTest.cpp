// A running task's directory counts against the store's budget while it grows: uploads are refused
// for room meanwhile, and the task itself still finishes.
#include <future>
#include <thread>

#include "service/ContentStore.h"
#include "service/Faults.h"
#include "service/LocalRunner.h"
#include "service/TaskManager.h"
#include "tests/support/TestSupport.h"

namespace kxtest {
namespace {

// Writes its scratch, then holds the task until the test lets it finish.
struct GrowingEngine final : kxservice::Engine {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    bool canDensify() const override { return false; }
    std::vector<kxservice::ResultFile> runSfm(const kxservice::SfmJob&,
                                              kxservice::TaskContext& context) override {
        writeFile(context.dir() / "scratch", std::string(900000, 's'));
        released.wait();
        writeFile(context.dir() / "model.ksm", "m");
        return {{context.dir() / "model.ksm"}};
    }
    std::vector<kxservice::ResultFile> runMvs(const kxservice::MvsJob&, kxservice::TaskContext&) override {
        return {};
    }
};

TEST(TaskStorage, ARunningTasksScratchCountsWhileItRunsAndTheTaskStillFinishes) {
    TempDir dir;
    kxservice::ContentStore store(dir / "store", 1000000);
    auto owned = std::make_unique<GrowingEngine>();
    GrowingEngine& engine = *owned;
    kxservice::LocalRunner runner(std::move(owned));
    kxservice::Faults faults;
    kxservice::TaskManager tasks(runner, store, faults, dir / "tasks", 1);
    const auto settle = [](auto done) {  // up to 10 s
        for (int n = 0; n < 1000 && !done(); ++n) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    };
    const auto task = tasks.launch(kxservice::SfmJob{}, {}, 1);
    settle([&] { return store.storedBytes() >= 900000; });
    EXPECT_GE(store.storedBytes(), 900000u);
    EXPECT_EQ(tasks.status(task)->stage, user_proto::TaskStage::kRunning);
    // Slow uploads give way only to one refused for room, not to a session over its share.
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(store.beginUpload(600000, 2));
    EXPECT_FALSE(store.shortOfRoomSince(before));
    EXPECT_FALSE(store.beginUpload(200000));
    EXPECT_TRUE(store.shortOfRoomSince(before));
    engine.release.set_value();
    settle([&] { return tasks.status(task)->stage >= user_proto::TaskStage::kFinished; });  // past hashing
    EXPECT_EQ(tasks.status(task)->stage, user_proto::TaskStage::kFinished);
    tasks.sessionEnded(1);  // not collected: removed, and its bytes given back
    settle([&] { return store.storedBytes() == 0; });
    EXPECT_EQ(store.storedBytes(), 0u);
    EXPECT_TRUE(store.beginUpload(200000));
}

}  // namespace
}  // namespace kxtest
