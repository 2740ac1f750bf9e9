#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "project/Optics.h"
#include "project/Project.h"
#include "project/ProjectRules.h"
#include "project/SfmCfgBuild.h"

using Source = ImgMetaData::GPS::Source;

namespace {

// Image and group records built directly, for the rules that need no image file.
std::unique_ptr<Image> makeImage(uint32_t width, uint32_t height, std::string file = "photo.jpg") {
    auto image = std::make_unique<Image>();
    image->file = std::move(file);
    image->meta.width = width;
    image->meta.height = height;
    image->meta.center = std::array<float, 2>{width * 0.5f, height * 0.5f};
    return image;
}

ImgMetaData::GPS gpsAt(double latitude, double longitude, double altitude, Source source = Source::kExif) {
    return {source, latitude, longitude, altitude, std::nullopt, std::nullopt};
}

std::unique_ptr<Image> makeGpsImage(const ImgMetaData::GPS& gps) {
    auto image = makeImage(4000, 3000);
    image->meta.gps = gps;
    return image;
}

template <typename... Imgs>
Images makeImages(Imgs... images) {
    Images v;
    (v.push_back(std::move(images)), ...);
    return v;
}

// A group with the given optics marker in fx (so that groups can be told apart) and the images moved in.
template <typename... Imgs>
std::unique_ptr<ImgGrp> makeGroup(float fx, Imgs... images) {
    return std::unique_ptr<ImgGrp>(
        new ImgGrp{4000, 3000, fx, fx, 2000, 1500, 0, 0, 0, 0, 0, makeImages(std::move(images)...)});
}

ImgMetaData recorded() {
    ImgMetaData meta;
    meta.width = 5472;
    meta.height = 3648;
    meta.focal = std::array<float, 2>{3700.1f, 3698.5f};
    meta.center = std::array<float, 2>{2748.3f, 1815.8f};
    meta.distortion = std::array<float, 5>{-0.11f, 0.02f, 0.0003f, -0.0001f, -0.01f};
    return meta;
}

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

TEST(SameOptics, ComparesSizePresenceAndExactValues) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Row {
        const char* what;
        void (*change)(ImgMetaData&);
        bool same;
    };
    const Row rows[] = {
        {"identical", [](ImgMetaData&) {}, true},
        {"focal absent", [](ImgMetaData& m) { m.focal.reset(); }, false},
        {"centre value", [](ImgMetaData& m) { (*m.center)[0] = 2748.0f; }, false},
        {"distortion value", [](ImgMetaData& m) { (*m.distortion)[4] = 0; }, false},
        {"GPS does not count", [](ImgMetaData& m) { m.gps = gpsAt(1, 2, 3); }, true},
    };
    for (const Row& row : rows) {
        ImgMetaData other = recorded();
        row.change(other);
        EXPECT_EQ(sameOptics(recorded(), other), row.same) << row.what;
        EXPECT_EQ(sameOptics(other, recorded()), row.same) << row.what;
    }
    ImgMetaData withNan = recorded();
    (*withNan.distortion)[2] = nan;
    EXPECT_FALSE(sameOptics(withNan, withNan)) << "a NaN never matches, not even itself";
}

TEST(SmallImages, IsStrictlyBelowTheAverageOf1024By768) {
    struct Row {
        std::vector<std::pair<uint32_t, uint32_t>> sizes;
        bool small;
    };
    const Row rows[] = {
        {{}, false},
        {{{1024, 767}}, true},
        {{{2048, 768}, {0, 0}}, false},     // mean exactly 1024 x 768
        {{{65535, 65535}, {1, 1}}, false},  // large counts are summed without overflow
    };
    for (const Row& row : rows) {
        ImgGrps groups;
        groups.push_back(makeGroup(1));
        groups.push_back(makeGroup(2));
        for (size_t i = 0; i < row.sizes.size(); ++i) {
            groups[i % 2]->images.push_back(makeImage(row.sizes[i].first, row.sizes[i].second));
        }
        EXPECT_EQ(smallImages(groups), row.small) << row.sizes.size() << " images";
    }
}

TEST(DefaultSettings, FollowTheImages) {
    ImgGrps groups;
    EXPECT_EQ(defaultSettings(groups),
              (SfmCfg::Settings{"F1D2", false, "Global", 10000u, false, false, false}));

    groups.push_back(makeGroup(1, makeImage(640, 480)));
    groups.push_back(makeGroup(2, makeGpsImage(gpsAt(1, 1, 1, Source::kXMP))));
    EXPECT_TRUE(isDiscrete(groups));
    EXPECT_EQ(defaultSettings(groups).siftUpsample, false);  // (640 x 480 + 4000 x 3000) / 2 is large
    EXPECT_EQ(defaultSettings(groups).useGps, true);

    groups[0]->images.push_back(makeImage(640, 480));
    EXPECT_FALSE(isDiscrete(groups));
    EXPECT_EQ(defaultSettings(groups).opticModel, "F1D5");

    groups.push_back(makeGroup(3));
    groups[0]->images.pop_back();
    EXPECT_FALSE(isDiscrete(groups)) << "an empty group is not a single image";

    // GPS counts as precise only when the first located image, in group order, has an XMP position.
    groups.insert(groups.begin(),
                  makeGroup(4, makeImage(10, 10), makeGpsImage(gpsAt(1, 1, 1, Source::kExif))));
    EXPECT_EQ(defaultSettings(groups).useGps, false);
}

TEST(Optics, ParsesAllNineFieldsOrNone) {
    OpticsTexts texts = {"3000", "3000.5", "2000", "1500", "-0.1", "0.02", "1e-4", "0", "-0"};
    const auto info = parseOptics(texts);
    ASSERT_TRUE(info);
    EXPECT_EQ(std::make_tuple(info->fx, info->fy, info->cx, info->cy, info->k1, info->k2, info->p1, info->p2,
                              info->k3),
              std::make_tuple(3000.f, 3000.5f, 2000.f, 1500.f, -0.1f, 0.02f, 1e-4f, 0.f, -0.f));

    struct Row {
        int field;
        const char* text;
    };
    const Row bad[] = {{0, ""}, {1, "abc"}, {3, "1,5"}, {8, "nan"}, {4, "inf"}, {2, "1e39"}, {5, "2 3"}};
    for (const Row& row : bad) {
        OpticsTexts broken = texts;
        broken[row.field] = row.text;
        EXPECT_FALSE(parseOptics(broken)) << row.field << " '" << row.text << "'";
    }
}

TEST(ProjectOrigin, ComesFromTheFirstBatchWithGps) {
    Project p;
    p.addGroups(makeImages(makeGpsImage(gpsAt(47.0, 8.0, 400)), makeGpsImage(gpsAt(47.2, 8.4, 500)),
                           makeImage(4000, 3000)),
                OpticsInfo{});
    ASSERT_TRUE(p.origin());
    const SfmCfg::GpsCoords first = *p.origin();
    EXPECT_NEAR(first.latitude, 47.1, 1e-9) << "the mean of the located images";
    p.addGroups(makeImages(makeGpsImage(gpsAt(10, 10, 10))), OpticsInfo{});
    EXPECT_EQ(p.origin()->latitude, first.latitude) << "a later batch leaves the origin";
    EXPECT_EQ(p.groups().size(), 4u) << "untied optics: one group per image";
}

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
