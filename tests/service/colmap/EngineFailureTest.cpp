#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "model/KsmModel.h"
#include "service/TaskContext.h"
#include "service/colmap/ColmapMvs.h"
#include "service/colmap/ColmapSfm.h"
#include "tests/support/TestSupport.h"

namespace {

const FileKey kPhoto(encodeHex({1, 2, 3, 4}));

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

// Runs one task of the engine against the stand-in; task(context, options) is the engine's call.
template <typename Task>
Outcome runWith(const std::string& cases, kxcolmap::RunOptions options, int cancelAfterMs, Task task) {
    kxtest::TempDir dir;
    std::filesystem::create_directories(dir / "task");
    kxtest::writeFile(dir / "photo", "not decoded by the stand-in");
    std::atomic<bool> cancel{false};
    Outcome out;
    kxservice::TaskContext context(
        dir / "task", {{kPhoto, dir / "photo"}}, [&](float r) { out.progress.push_back(r); }, cancel);
    options.program = standIn(dir, cases).string();
    std::thread canceller;
    if (cancelAfterMs >= 0) {
        canceller = std::thread([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(cancelAfterMs));
            cancel = true;
        });
    }
    const auto start = std::chrono::steady_clock::now();
    try {
        task(context, options);
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

// nbImages copies of the same photograph without priors, on one camera.
kxservice::SfmJob sfmJob(const std::string& code, size_t nbImages, bool unordered) {
    kxservice::SfmJob job;
    job.cfg.settings = SfmCfg::Settings{code, false, "Global", 1000, false, false, unordered};
    SfmCfg::Image image;
    image.key = kPhoto;
    image.name = "/photos/a.jpg";
    job.cfg.cameras.push_back({1024, 768, 1000, 1000, 512, 384, 0, 0, 0, 0, 0});
    job.cfg.images.assign(nbImages, image);
    return job;
}

Outcome runTask(const std::string& cases, unsigned timeout, int cancelAfterMs = -1,
                const std::string& code = "F1D2", KestrixSparseModel* result = nullptr, size_t nbImages = 2) {
    const kxservice::SfmJob job = sfmJob(code, nbImages, false);
    kxcolmap::RunOptions options;
    options.taskTimeout = timeout;
    return runWith(cases, options, cancelAfterMs,
                   [&](kxservice::TaskContext& context, const kxcolmap::RunOptions& o) {
                       const auto files = kxcolmap::runSfm(job, context, o);
                       if (result) {
                           *result = ksm::loadKsm(files.at(0).path);
                       }
                   });
}

// A dense task on a model of nbCaptures captures of the same photograph, with colmap's own stereo.
Outcome runDense(const std::string& cases, size_t nbCaptures, int cancelAfterMs = -1,
                 const std::string& photo = "/photos/a.jpg") {
    kxservice::MvsJob job;
    job.model.cameras = {{{1000, 1000}, {512, 384}, {}}};
    job.model.cameraImageSizes = {{1024, 768}};
    job.model.poses = {{}};
    for (size_t i = 0; i < nbCaptures; ++i) {
        job.model.captures.push_back({0, 0, {}, photo, {1, 2, 3, 4}});
        job.images.push_back(kPhoto);
    }
    kxcolmap::RunOptions options;
    options.cudaStereo = true;
    return runWith(cases, options, cancelAfterMs,
                   [&](kxservice::TaskContext& context, const kxcolmap::RunOptions& o) {
                       const auto results = kxcolmap::runMvs(job, context, o);
                       EXPECT_EQ(results.size(), 1u);
                       EXPECT_EQ(results.at(0).type, FileType::kPly);
                   });
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
        {"matches_importer) echo 'matching'; kill -SEGV $$;;", 0, -1,
         "colmap matches_importer killed by signal 11 (see the task log)", "matching"},
        {"feature_extractor) echo 'slow'; sleep 30;;", 1, -1,
         "colmap feature_extractor timed out: the task's limit is 1 s", "slow"},
        {"mapper) echo 'Registering image #4 (1)'; exit 1;;", 0, -1,
         "no model: colmap mapper registered no images, even with relaxed settings",
         "relaxed mapping registered 0 of 2 images"},
        {"matches_importer) echo 'waiting'; sleep 30;;", 0, 300, "cancelled", "waiting"},
    };
    for (const auto& row : rows) {
        const Outcome out = runTask(row.cases, row.timeout, row.cancelAfterMs);
        EXPECT_EQ(out.reason, row.reason);
        EXPECT_NE(out.log.find(row.logged), std::string::npos) << out.log;
        EXPECT_LT(out.seconds, 8) << row.reason;
        EXPECT_TRUE(std::is_sorted(out.progress.begin(), out.progress.end())) << row.reason;
    }
}

// A stand-in's model of two images of one point: its mapper writes the image and point counts (three
// images when it continues a model), its converter the text, with the focal length F for a refined
// model.
const std::string kStandInModel =
    "mapper) while [ $# -gt 0 ]; do case $1 in --output_path) out=$2;; --input_path) in=$2;; esac; shift; "
    "done;"
    "n='\\002'; [ -n \"$in\" ] && n='\\003' || out=$out/0; mkdir -p $out;"
    "printf \"$n\\0\\0\\0\\0\\0\\0\\0\" > $out/images.bin;"
    "printf '\\001\\0\\0\\0\\0\\0\\0\\0' > $out/points3D.bin;;\n"
    "model_converter) while [ $# -gt 0 ]; do case $1 in --input_path) in=$2;; --output_path) out=$2;; esac;"
    "shift; done; camera='RADIAL 1024 768 1000 512 384 0 0';"
    "case $in in *refined) camera=\"OPENCV 1024 768 $F $F 512 384 0 0 0 0\";; esac;"
    "echo \"1 $camera\" > $out/cameras.txt;"
    "printf '1 1 0 0 0 0 0 0 1 00000.jpg\\n512 384 1\\n2 1 0 0 0 0 0 1 1 00001.jpg\\n512 384 1\\n'"
    " > $out/images.txt; echo '1 0 0 10 9 9 9 0 1 0 2 0' > $out/points3D.txt;;";

// The refined cameras replace the mapped ones only when they hold: the stand-in's bundle adjuster moves
// the focal length by 1 % (kept) or 20 % (the mapped model stays).
TEST(ColmapEngine, RefinedCamerasThatCollapseLeaveTheMappedOnes) {
    for (const auto& [focal, kept] : {std::pair<const char*, bool>{"1010", true}, {"1200", false}}) {
        KestrixSparseModel read;
        const Outcome out = runTask("*) F=" + std::string(focal) + ";;\nesac\ncase $1 in\n" + kStandInModel,
                                    0, -1, "F1D5", &read);
        ASSERT_EQ(out.reason, "succeeded") << out.log;
        const auto& cameras = std::get<ksm::Model<1u>>(read).cameras;
        ASSERT_EQ(cameras.size(), 1u);
        EXPECT_EQ(cameras[0].focal.x, kept ? 1010 : 1000) << out.log;
        EXPECT_NE(out.log.find("mapped as RADIAL refining f, k1, k2 first"), std::string::npos);
        EXPECT_EQ(
            out.log.find("not kept, the mapped ones stay: camera 0: the focal length moved by 20.0 %") !=
                std::string::npos,
            !kept)
            << out.log;
    }
}

// More than 60 unordered photographs without priors are paired by retrieval: the stand-in's retriever
// proposes the last photograph for each. Its vocabulary is kept in the cache when the storage budget
// holds it, reused by the next task, and left in the task when the budget refuses it.
TEST(ColmapEngine, RetrievalVocabularyIsCachedWithinTheBudget) {
    const std::string retrieval =
        "vocab_tree_builder) while [ $# -gt 0 ]; do [ \"$1\" = --vocab_tree_path ] && out=$2; shift; done;"
        "echo words > $out;;\n"
        "vocab_tree_retriever) while [ $# -gt 0 ]; do [ \"$1\" = --query_image_list_path ] && q=$2; shift; "
        "done;"
        "while read n; do echo \"Querying for image $n [1/61] in 0.1s\"; echo \"  image_id=1, image_name=$n, "
        "score=1\"; echo '  image_id=2, image_name=00060.jpg, score=0.5'; done < $q;;";
    kxtest::TempDir cache;
    const kxservice::SfmJob job = sfmJob("F1D2", 61, true);
    kxcolmap::RunOptions options;
    options.cacheDir = cache.path();
    const std::pair<bool, const char*> rows[] = {
        {true, "colmap vocab_tree_builder"},
        {true, "retrieval vocabulary reused"},
        {false, "colmap vocab_tree_builder"},
    };
    std::vector<int64_t> claims;
    for (const auto& row : rows) {
        const bool budget = row.first;  // a structured binding cannot be captured in C++17
        if (!budget) {
            std::filesystem::remove_all(cache.path());
        }
        const Outcome out =
            runWith(retrieval, options, -1, [&](kxservice::TaskContext& context, const auto& o) {
                context.setStorageClaim([&](int64_t size) {
                    claims.push_back(size);
                    return budget;
                });
                kxcolmap::runSfm(job, context, o);
            });
        EXPECT_NE(out.log.find(row.second), std::string::npos) << out.log;
        EXPECT_NE(out.log.find("matching plan: retrieval words 4096 retrieved 10"), std::string::npos)
            << out.log;
        EXPECT_NE(out.log.find("matching 60 image pairs"), std::string::npos) << out.log;
        EXPECT_EQ(out.log.find("not cached") == std::string::npos, budget) << out.log;
        size_t nbCached = 0;
        for (const auto& entry : std::filesystem::directory_iterator(cache.path())) {
            nbCached += entry.path().filename().string().rfind("vocabulary-", 0) == 0 ? 1 : 0;
        }
        EXPECT_EQ(nbCached, budget ? 1u : 0u);
    }
    EXPECT_EQ(claims, (std::vector<int64_t>{6, 6}));  // "words\n", claimed by the two builds
}

// A first run that leaves images out is continued from its model before the other initialisation is
// tried: here the continuation registers the third image, and the default mapper never runs.
TEST(ColmapEngine, MappingContinuesAModelThatLeftImagesOut) {
    const Outcome out = runTask("*) F=1000;;\nesac\ncase $1 in\n" + kStandInModel, 0, -1, "F1D2", nullptr, 3);
    ASSERT_EQ(out.reason, "succeeded") << out.log;
    EXPECT_NE(out.log.find("relaxed mapping registered 2 of 3 images"), std::string::npos) << out.log;
    EXPECT_NE(out.log.find("continued mapping registered 3 of 3 images"), std::string::npos) << out.log;
    EXPECT_EQ(out.log.find("default mapping"), std::string::npos) << out.log;
    EXPECT_NE(out.log.find("/continued --output_path"), std::string::npos) << out.log;
}

// The dense task: colmap's stereo gets the workspace, and fusion is judged by the points it wrote, since
// it exits with 0 whatever it kept.
TEST(ColmapEngine, DenseStepsEndWithTheirReason) {
    const std::string fusionWrites =
        "stereo_fusion) while [ $# -gt 0 ]; do [ \"$1\" = --output_path ] && out=$2; shift; done;"
        "printf 'ply\\nformat ascii 1.0\\nelement vertex 1\\nproperty float x\\nproperty float y\\n"
        "property float z\\nend_header\\n1 2 3\\n' > \"$out\";;";
    const struct {
        std::string cases;
        size_t nbCaptures;
        int cancelAfterMs;
        const char* reason;  // or its beginning
        const char* logged;
        std::string photo = "/photos/a.jpg";
    } rows[] = {
        {"patch_match_stereo) echo \"$@\";;\n" + fusionWrites, 2, -1, "succeeded",
         "--workspace_format COLMAP --PatchMatchStereo.geom_consistency true"},
        {"stereo_fusion) echo 'Fusing image [1/2]';;", 2, -1,
         "fusion kept no point: no depth was confirmed by 2 images (see the task log)", "Fusing image"},
        {"image_undistorter) echo 'no model' >&2; exit 2;;", 3, -1,
         "colmap image_undistorter exited with status 2 (see the task log)", "no model"},
        {"patch_match_stereo) echo 'matching'; sleep 30;;", 2, 300, "cancelled", "matching"},
        {"", 1, -1, "dense stereo needs at least two registered images; the sparse model has 1", ""},
        {"", 2, -1, "image /photos/a.heic cannot be read: ", "", "/photos/a.heic"},
    };
    for (const auto& row : rows) {
        const Outcome out = runDense(row.cases, row.nbCaptures, row.cancelAfterMs, row.photo);
        EXPECT_EQ(out.reason.substr(0, std::strlen(row.reason)), row.reason) << out.reason;
        EXPECT_NE(out.log.find(row.logged), std::string::npos) << out.log;
        EXPECT_LT(out.seconds, 8) << row.reason;
        EXPECT_TRUE(std::is_sorted(out.progress.begin(), out.progress.end())) << row.reason;
    }
}

}  // namespace
