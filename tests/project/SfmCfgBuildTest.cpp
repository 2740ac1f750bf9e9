#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "project/Project.h"
#include "project/SfmCfgBuild.h"
#include "tests/project/RecordBuilders.h"

using namespace kxtest;
using Source = ImgMetaData::GPS::Source;

namespace {

void useSettings(Project& p, bool useGps, const char* shutter) {
    SfmCfg::Settings settings;
    settings.useGps = useGps;
    settings.shutterType = shutter;
    p.setSettings(settings);
}

// The meridian arc of a small latitude step on WGS84, from the ellipsoid's radius of curvature.
double meridianMetres(double latitudeDeg, double stepDeg) {
    const double a = 6378137.0, f = 1 / 298.257223563, e2 = f * (2 - f);
    const double s = std::sin(latitudeDeg * M_PI / 180);
    const double m = a * (1 - e2) / std::pow(1 - e2 * s * s, 1.5);
    return m * stepDeg * M_PI / 180;
}

}  // namespace

TEST(SfmCfgBuild, CamerasFormatsAndSettings) {
    Project p;
    p.addGroup(makeGroup(100));
    p.addGroup(makeGroup(200, makeImage(4000, 3000, "/data/b\xc3\xa9la.JPEG"),
                         makeImage(4000, 3000, "/data/2.heic")));
    p.addGroup(makeGroup(300, makeImage(4000, 3000, "/data/3.avif")));
    const auto cfg = p.sfmCfg(false);
    ASSERT_EQ(cfg->cameras.size(), 2u);
    EXPECT_EQ(cfg->cameras[1].fx, 300.f);
    // Settings: the defaults only for the service; as set, absent fields staying absent.
    EXPECT_FALSE(cfg->settings);
    EXPECT_EQ(p.sfmCfg(true)->settings, p.defaultSettings());
    SfmCfg::Settings settings;
    settings.nbKPoints = 2000;
    p.setSettings(settings);
    EXPECT_EQ(p.sfmCfg(true)->settings, settings);
    using Entry = std::tuple<uint32_t, int32_t, std::string>;  // camera index, format, name
    std::vector<Entry> entries;
    for (const auto& image : cfg->images) {
        entries.emplace_back(image.idxCam, image.format, image.name);
    }
    EXPECT_EQ(entries,
              (std::vector<Entry>{
                  {0, 0, "/data/b\xc3\xa9la.JPEG"}, {0, 2, "/data/2.heic"}, {1, 1, "/data/3.avif"}}));
}

TEST(SfmCfgBuild, LocationPriorsInTheLocalNorthEastDownFrame) {
    Project p;
    const double lat = 47.0, lon = 8.0, alt = 400.0;
    p.addGroup(makeGroup(1, makeGpsImage(gpsAt(lat, lon, alt)), makeImage(4000, 3000),
                         makeGpsImage(gpsAt(lat + 0.002, lon, alt))));
    useSettings(p, true, "Global");

    EXPECT_FALSE(p.sfmCfg(false)->poses) << "a saved file carries no priors";
    EXPECT_FALSE(p.origin()) << "building for a file leaves the origin alone";

    const auto cfg = p.sfmCfg(true);
    ASSERT_TRUE(p.origin());
    EXPECT_DOUBLE_EQ(p.origin()->latitude, lat + 0.001);
    EXPECT_FALSE(cfg->origin) << "the frame origin stays with the project";
    ASSERT_TRUE(cfg->poses);
    ASSERT_EQ(cfg->poses->size(), 2u);
    EXPECT_EQ(cfg->images[0].idxPose, 0u);
    EXPECT_FALSE(cfg->images[1].idxPose);
    EXPECT_EQ(cfg->images[2].idxPose, 1u);

    // The origin is the mean, so the images lie 0.001 degree south and north of it.
    const double step = meridianMetres(lat + 0.0005, 0.001);
    for (int i : {0, 1}) {
        const SfmCfg::Pose& pose = (*cfg->poses)[i];
        ASSERT_TRUE(pose.location);
        const auto& c = pose.location->cartesian;
        EXPECT_NEAR(c[0], i == 0 ? -step : step, 0.01);
        EXPECT_NEAR(c[1], 0.0, 1e-6);
        EXPECT_GT(c[2], 0.0) << "earth curvature puts it slightly below the tangent plane";
        EXPECT_LT(c[2], 0.01);
        EXPECT_EQ(pose.location->delta, std::numeric_limits<float>::infinity());
        EXPECT_FALSE(pose.velocity || pose.rotation);
    }
}

TEST(SfmCfgBuild, CovarianceBySourceOfThePosition) {
    ImgMetaData::GPS rtk = gpsAt(60, 10, 100, Source::kXMP);
    rtk.rtkStd = std::array<float, 3>{0.02404f, 0.00988f, 0.01137f};  // height, north, east
    const std::tuple<const char*, ImgMetaData::GPS, bool, std::array<float, 3>> rows[] = {
        {"EXIF at 60 degrees", gpsAt(60, 10, 100), false, {956.0464f, 239.0116f, 20.25f}},
        {"EXIF with a barometer", gpsAt(60, 10, 100), true, {956.0464f, 239.0116f, 0.25f}},
        {"XMP without RTK", gpsAt(60, 10, 100, Source::kXMP), true, {9.f, 9.f, 0.25f}},
        {"RTK deviations", rtk, false, {0.00988f * 0.00988f, 0.01137f * 0.01137f, 0.02404f * 0.02404f}},
    };
    for (const auto& [what, gps, hasBaro, diagonal] : rows) {
        Project p;
        auto image = makeGpsImage(gps);
        image->meta.hasBaro = hasBaro;
        p.addGroup(makeGroup(1, std::move(image)));
        useSettings(p, true, "Global");
        // The diagonal in north, east, down order; everything else zero.
        const auto cfg = p.sfmCfg(true);
        const auto& cov = *(*cfg->poses)[0].location->covariance;
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                EXPECT_FLOAT_EQ(cov[i][j], i == j ? diagonal[i] : 0.f) << what << " " << i << j;
            }
        }
    }
}

TEST(SfmCfgBuild, RollingShutterGivesEveryImageAMotionPrior) {
    Project p;
    auto down = makeImage(4000, 3000);
    down->meta.gimbalAttitude = ImgMetaData::Attitude{0, -90, 0};
    auto level = makeImage(4000, 3000);
    level->meta.gimbalAttitude = ImgMetaData::Attitude{0, 0, 0};
    p.addGroup(makeGroup(1, makeImage(4000, 3000), std::move(down)));
    p.addGroup(makeGroup(2, std::move(level), makeGpsImage(gpsAt(1, 1, 1))));
    useSettings(p, false, "Rolling1DLoc");
    const auto cfg = p.sfmCfg(true);
    ASSERT_TRUE(cfg->poses);
    ASSERT_EQ(cfg->poses->size(), 4u);
    for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(cfg->images[i].idxPose, i);
        EXPECT_FALSE((*cfg->poses)[i].location) << "no location without useGps";
        ASSERT_TRUE((*cfg->poses)[i].velocity);
    }
    // 1e-8 along the viewing direction: without a gimbal attitude the camera counts as pitched up 90 degrees.
    const std::array<float, 3> expected[] = {{0, 1e-8f, 0}, {0, -1e-8f, 0}, {0, 0, 1e-8f}};
    for (int i = 0; i < 3; ++i) {
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR((*(*cfg->poses)[i].velocity)[k], expected[i][k], 1e-15f) << i << " " << k;
        }
    }

    // With GPS as well, the located image carries both priors in one pose.
    useSettings(p, true, "Rolling1DLoc");
    const auto both = p.sfmCfg(true);
    ASSERT_EQ(both->poses->size(), 4u);
    EXPECT_TRUE((*both->poses)[3].location && (*both->poses)[3].velocity);
    EXPECT_FALSE((*both->poses)[0].location);
}
