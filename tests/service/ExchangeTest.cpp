// The protocol as the client runs it, end to end against the in-process service.
#include <sstream>
#include <thread>

#include "model/KsmModel.h"
#include "model/KsmWriter.h"
#include "model/PlyData.h"
#include "tests/service/ServiceFixture.h"

namespace kxtest {
namespace {

class Exchange : public ServiceFixture {
protected:
    void SetUp() override { startService(); }
};

// Downloads every item into the test directory, checking size and key; returns the paths.
template <class Item>
std::vector<std::filesystem::path> fetch(const std::vector<Item>& items, const std::filesystem::path& ca,
                                         const std::filesystem::path& dir) {
    std::vector<std::filesystem::path> paths;
    for (size_t i = 0; i < items.size(); ++i) {
        const HttpReply got = httpsGet(items[i].url, ca);
        EXPECT_EQ(got.status, 200);
        EXPECT_TRUE(got.complete);
        EXPECT_EQ(got.body.size(), items[i].size);
        EXPECT_EQ(keyOf(got.body), items[i].key);
        paths.push_back(dir / ("result" + std::to_string(i) + extensionOf(items[i].type)));
        writeFile(paths.back(), got.body);
    }
    return paths;
}

TEST_F(Exchange, SfmThenMvsRunThroughTheStagesAndDeliverVerifiedResults) {
    auto ws = connect();
    const FileKey img0 = upload(*ws, "first image bytes");
    const FileKey img1 = upload(*ws, "second image bytes");
    const FileKey cfg = upload(*ws, configText({img0, img1}), FileType::kJson);
    Request<kLaunchSfmTask> launch;
    launch.config = cfg;
    const auto launched = ws->call(launch);
    ASSERT_EQ(launched.sfmErr.code, 0u) << launched.sfmErr.message;

    const auto t0 = std::chrono::steady_clock::now();
    const auto stages = waitEnd(*ws, launched.hTask);
    ASSERT_EQ(stages.back().status, TaskStage::kFinished);
    // Stages only go forward; each repeat of a stage waited for the pace.
    int nbRepeats = 0;
    for (size_t i = 1; i < stages.size(); ++i) {
        EXPECT_LE(stages[i - 1].status, stages[i].status);
        nbRepeats += stages[i - 1].status == stages[i].status ? 1 : 0;
    }
    EXPECT_GE(std::chrono::steady_clock::now() - t0, kxservice::kProgressPace * nbRepeats);

    Request<kGetSfmResults> get;
    get.hTask = launched.hTask;
    const auto results = ws->call(get);
    ASSERT_EQ(results.sfmError.code, 0u);
    ASSERT_EQ(results.items.size(), 1u);
    EXPECT_EQ(results.items[0].type, FileType::kKsm);
    const auto files = fetch(results.items, ca(), mDir.path());
    const KestrixSparseModel model = ksm::loadKsm(files[0]);
    ASSERT_EQ(model.index(), 1u);
    const auto& m = std::get<1>(model);
    ASSERT_EQ(m.captures.size(), 2u);
    EXPECT_EQ(m.captures[1].imagePath, "/photos/IMG_1.jpg");
    EXPECT_EQ(FileKey(encodeHex(m.captures[1].imageDigest)), img1);
    ASSERT_EQ(m.cameras.size(), 1u);
    EXPECT_EQ(m.cameras[0].focal.x, 2900.0f);
    EXPECT_EQ(m.cameraImageSizes[0].x, 4000u);
    EXPECT_GE(m.points.size(), 100u);

    // MVS on that model, as the client does it: the model first, then the images it names.
    const FileKey ksmKey = upload(*ws, readFile(files[0]), FileType::kKsm);
    for (const FileKey& k : {img0, img1}) {
        Request<kGetUploadUrl> again;
        again.key = k;
        EXPECT_TRUE(ws->call(again).skipUpload);
    }
    Request<kLaunchMvsTask> mvs;
    mvs.ksmFile = ksmKey;
    mvs.images = {img0, img1};
    const auto mvsLaunched = ws->call(mvs);
    ASSERT_EQ(mvsLaunched.mvsErr.code, 0u) << mvsLaunched.mvsErr.message;
    EXPECT_NE(mvsLaunched.hTask, launched.hTask);
    ASSERT_EQ(waitEnd(*ws, mvsLaunched.hTask).back().status, TaskStage::kFinished);
    Request<kGetMvsResults> getMvs;
    getMvs.hTask = mvsLaunched.hTask;
    const auto mvsResults = ws->call(getMvs);
    ASSERT_EQ(mvsResults.items.size(), 1u);
    EXPECT_EQ(mvsResults.items[0].type, FileType::kPly);
    const auto ply = fetch(mvsResults.items, ca(), mDir.path());
    const kxply::PLYData dense(ply[0].string());
    EXPECT_GE(dense.getVertexPositions().size(), m.points.size());
    EXPECT_EQ(dense.getVertexColors().size(), dense.getVertexPositions().size());
}

TEST_F(Exchange, LaunchesAreRefusedWithTheReasonAndTheMissingFiles) {
    auto ws = connect();
    const FileKey stored = upload(*ws, "a stored image");
    const FileKey absent = keyOf("never uploaded");
    const FileKey badCam = upload(*ws, configText({stored}, 3), FileType::kJson);
    const FileKey notJson = upload(*ws, "{ not json", FileType::kJson);
    const FileKey noImage = upload(*ws, configText({stored, absent}), FileType::kJson);
    struct Row {
        const char* name;
        FileKey config;
        uint32_t code;
        std::vector<FileKey> missing;
        std::string message;
    };
    const Row rows[] = {
        {"configuration not stored", absent, kxservice::kMissingFiles, {absent}, "configuration"},
        {"image not stored", noImage, kxservice::kMissingFiles, {absent}, "not stored"},
        {"camera index out of range", badCam, kxservice::kInconsistentInput, {}, "camera 3 of 1"},
        {"not a configuration", notJson, kxservice::kUnreadableInput, {}, "does not read"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Request<kLaunchSfmTask> launch;
        launch.config = row.config;
        const auto res = ws->call(launch);
        EXPECT_EQ(res.error.code, 0u);
        EXPECT_EQ(res.sfmErr.code, row.code);
        EXPECT_EQ(res.sfmErr.missingFiles, row.missing);
        EXPECT_NE(res.sfmErr.message.find(row.message), std::string::npos) << res.sfmErr.message;
    }
    // MVS: a file that is no sparse model, and images that are not stored.
    Request<kLaunchMvsTask> mvs;
    mvs.ksmFile = notJson;
    EXPECT_EQ(ws->call(mvs).mvsErr.code, kxservice::kUnreadableInput);
    ksm::Model<1u> m;
    m.poses.resize(1);
    m.cameras.resize(1);
    m.cameraImageSizes.resize(1);
    m.captures.resize(1);
    std::ostringstream os;
    ksm::writeKsm(os, m);
    mvs.ksmFile = upload(*ws, os.str(), FileType::kKsm);
    mvs.images = {absent};
    const auto res = ws->call(mvs);
    EXPECT_EQ(res.mvsErr.code, kxservice::kMissingFiles);
    EXPECT_EQ(res.mvsErr.missingFiles, std::vector<FileKey>{absent});
}

TEST_F(Exchange, ATaskWhoseSessionEndsBeforeItsResultsIsCancelledAndRemoved) {
    TaskHandle task = 0;
    {
        auto ws = connect();
        Request<kLaunchSfmTask> launch;
        launch.config = prepareSfm(*ws);
        task = ws->call(launch).hTask;
        ASSERT_TRUE(core().tasks().status(task));
        ws->close();
    }
    for (int i = 0; i < 200 && core().tasks().status(task); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(core().tasks().status(task));
    // Its directory goes once the worker has let go of it.
    for (int i = 0; i < 200 && !std::filesystem::is_empty(mDir / "data" / "tasks"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(std::filesystem::is_empty(mDir / "data" / "tasks"));
}

}  // namespace
}  // namespace kxtest
