// One real run of colmap on eight photographs with the settings the client proposes for them (its
// location priors used), which takes about a minute on two cores.
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <map>
#include <sys/resource.h>

#include <GeographicLib/LocalCartesian.hpp>
#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>

#include "model/KsmModel.h"
#include "service/Engine.h"
#include "service/TaskContext.h"
#include "service/colmap/ColmapSfm.h"
#include "tests/support/TestSupport.h"

namespace {

// Latitude, longitude (north and east, as every lund photograph records) and altitude from EXIF; the
// altitude has no reference tag, so the client's own reader leaves these photographs without GPS.
std::array<double, 3> exifPosition(const std::filesystem::path& path) {
    auto image = Exiv2::ImageFactory::open(path.string());
    image->readMetadata();
    const Exiv2::ExifData& exif = image->exifData();
    std::array<double, 3> position{};
    const char* keys[] = {"Exif.GPSInfo.GPSLatitude", "Exif.GPSInfo.GPSLongitude",
                          "Exif.GPSInfo.GPSAltitude"};
    for (int i = 0; i < 3; ++i) {
        const auto it = exif.findKey(Exiv2::ExifKey(keys[i]));
        EXPECT_NE(it, exif.end()) << keys[i];
        if (it != exif.end()) {
            position[i] =
                i == 2 ? it->toFloat(0) : it->toFloat(0) + it->toFloat(1) / 60 + it->toFloat(2) / 3600;
        }
    }
    return position;
}

double jsonNumber(const std::string& json, const std::string& key) {
    const size_t at = json.find("\"" + key + "\": ");
    return at == std::string::npos ? -1 : std::stod(json.substr(at + key.size() + 4));
}

TEST(ColmapEngine, AlignsEightLundPhotographs) {
    const auto data = kxtest::sharedTestData();
    const auto lund = data / "sfm-set" / "lund";
    KX_REQUIRE(!data.empty() && std::filesystem::exists(lund / "08.jpg"),
               "shared sample data not found (../shared/testdata/sfm-set/lund beside the checkout)");
    KX_REQUIRE(kxservice::colmapFound(), "the colmap program is not in PATH");
    // The machine is shared: colmap's subprocesses inherit the lower priority.
    setpriority(PRIO_PROCESS, 0, 10);

    kxtest::TempDir dir;
    kxservice::SfmJob job;
    // 35 mm equivalent focal length 35 on a 1024 x 768 image: 35 / 43.27 of the 1280-pixel diagonal.
    job.cfg.cameras.push_back({1024, 768, 1035.4f, 1035.4f, 512, 384, 0, 0, 0, 0, 0});
    job.cfg.poses.emplace();
    std::unordered_map<FileKey, std::filesystem::path> inputs;
    std::map<std::string, std::array<double, 3>> priors;  // by file name: north, east, down
    std::optional<GeographicLib::LocalCartesian> frame;
    for (int i = 1; i <= 8; ++i) {
        const auto path = lund / ("0" + std::to_string(i) + ".jpg");
        SfmCfg::Image image;
        image.key = FileKey(md5sumHex(path.c_str()));
        image.name = "/home/user/lund/" + path.filename().string();
        const auto gps = exifPosition(path);
        if (!frame) {
            frame.emplace(gps[0], gps[1], gps[2]);
        }
        double east, north, up;
        frame->Forward(gps[0], gps[1], gps[2], east, north, up);
        SfmCfg::Location location;
        location.cartesian = {north, east, -up};
        priors[path.filename().string()] = {north, east, -up};
        location.covariance = std::array<std::array<float, 3>, 3>{{{25, 0, 0}, {0, 25, 0}, {0, 0, 100}}};
        image.idxPose = uint32_t(job.cfg.poses->size());
        job.cfg.poses->push_back({location, {}, {}});
        job.cfg.images.push_back(image);
        inputs[image.key] = path;
    }
    job.cfg.settings = SfmCfg::Settings{"F1D5", false, "Global", 10000, false, true, false};

    std::atomic<bool> cancel{false};
    std::vector<float> progress;
    kxservice::TaskContext context(
        dir.path(), inputs, [&](float r) { progress.push_back(r); }, cancel);
    kxcolmap::RunOptions options;
    options.nbThreads = 2;
    std::vector<kxservice::ResultFile> results;
    try {
        results = kxcolmap::runSfm(job, context, options);
    } catch (const std::exception& e) {
        FAIL() << e.what() << "\n" << kxtest::readFile(context.logFile());
    }
    const std::string log = kxtest::readFile(context.logFile());
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].type, FileType::kKsm);
    EXPECT_EQ(results[1].type, FileType::kJson);

    const KestrixSparseModel read = ksm::loadKsm(results[0].path);
    ASSERT_EQ(read.index(), 1u) << log;
    const auto& model = std::get<ksm::Model<1u>>(read);
    EXPECT_EQ(model.captures.size(), 8u) << log;
    EXPECT_EQ(model.cameras.size(), 1u);
    EXPECT_EQ(model.colors.size(), model.points.size());
    EXPECT_GT(model.points.size(), 100u);
    for (const ksm::Capture& capture : model.captures) {
        const auto name = std::filesystem::path(capture.imagePath).filename();
        EXPECT_EQ(capture.imagePath, "/home/user/lund/" + name.string());
        EXPECT_EQ(capture.imageDigest, vexkit::md5sum((lund / name).c_str())) << name;
        ASSERT_LT(capture.poseIdx, model.poses.size());
        // Aligned to the location priors: each centre of projection lies near its photograph's position.
        const auto& centre = model.poses[capture.poseIdx].centre;
        const auto& prior = priors.at(name.string());
        EXPECT_LT(std::hypot(centre.x - prior[0], centre.y - prior[1], centre.z - prior[2]), 20) << name;
        for (const ksm::Measurement& m : capture.measurements) {
            ASSERT_LT(m.pointIdx, model.points.size());
        }
    }

    const std::string report = kxtest::readFile(results[1].path);
    EXPECT_EQ(jsonNumber(report, "registeredImages"), double(model.captures.size())) << report;
    EXPECT_EQ(jsonNumber(report, "points"), double(model.points.size())) << report;
    const double error = jsonNumber(report, "meanReprojectionError");
    EXPECT_GT(error, 0) << report;
    EXPECT_LT(error, 1) << report;
    // Priors of 5 m on photographs about 5 m apart plan pairs in space: the ten nearest of each are here
    // all the others. The report names the plan and the steps' times.
    EXPECT_EQ(jsonNumber(report, "imagePairs"), 8 * 7 / 2) << report;
    EXPECT_NE(report.find("\"unregistered\": []"), std::string::npos) << report;
    EXPECT_NE(report.find("\"plan\": {\"name\": \"spatial\", \"nearest\": 10, \"overlap\": 4"),
              std::string::npos)
        << report;
    for (const char* step : {"extraction", "matching", "mapping", "refinement"}) {
        EXPECT_GT(jsonNumber(report, step), 0) << step << "\n" << report;
    }
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 1.0f);
}

}  // namespace
