#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "project/ProjectRules.h"
#include "tests/project/RecordBuilders.h"

using namespace kxtest;
using Source = ImgMetaData::GPS::Source;

namespace {

ImgMetaData recorded() {
    ImgMetaData meta;
    meta.width = 5472;
    meta.height = 3648;
    meta.focal = std::array<float, 2>{3700.1f, 3698.5f};
    meta.center = std::array<float, 2>{2748.3f, 1815.8f};
    meta.distortion = std::array<float, 5>{-0.11f, 0.02f, 0.0003f, -0.0001f, -0.01f};
    return meta;
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
        {"width", [](ImgMetaData& m) { m.width = 5471; }, false},
        {"height", [](ImgMetaData& m) { m.height = 3649; }, false},
        {"focal absent", [](ImgMetaData& m) { m.focal.reset(); }, false},
        {"focal value", [](ImgMetaData& m) { (*m.focal)[1] = 3698.6f; }, false},
        {"centre value", [](ImgMetaData& m) { (*m.center)[0] = 2748.0f; }, false},
        {"distortion absent", [](ImgMetaData& m) { m.distortion.reset(); }, false},
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

    ImgMetaData bare;
    bare.width = 10;
    bare.height = 20;
    EXPECT_TRUE(sameOptics(bare, bare)) << "nothing recorded on both sides";
}

TEST(SameOptics, EveryImageIsComparedWithTheFirst) {
    Images images;
    EXPECT_TRUE(sameOpticalSystem(images));
    images.push_back(makeImage(4000, 3000));
    images.push_back(makeImage(4000, 3000));
    EXPECT_TRUE(sameOpticalSystem(images));
    images.push_back(makeImage(3000, 4000));
    EXPECT_FALSE(sameOpticalSystem(images));
}

TEST(GpsMean, AveragesOnlyTheImagesWithAPosition) {
    Images images;
    images.push_back(makeImage(10, 10));
    EXPECT_FALSE(meanGpsPosition(images));
    images.push_back(makeGpsImage(gpsAt(10, 20, 100)));
    images.push_back(makeGpsImage(gpsAt(11, 22, 50, Source::kXMP)));
    const auto mean = meanGpsPosition(images);
    ASSERT_TRUE(mean);
    EXPECT_DOUBLE_EQ(mean->latitude, 10.5);
    EXPECT_DOUBLE_EQ(mean->longitude, 21);
    EXPECT_DOUBLE_EQ(mean->altitude, 75);

    ImgGrps groups;
    groups.push_back(makeGroup(1, std::move(images[0]), std::move(images[1])));
    groups.push_back(makeGroup(2));
    groups.push_back(makeGroup(3, makeGpsImage(gpsAt(13, 27, 0))));
    const auto all = meanGpsPosition(groups);
    ASSERT_TRUE(all);
    EXPECT_DOUBLE_EQ(all->latitude, 11.5);
    EXPECT_DOUBLE_EQ(all->longitude, 23.5);
    EXPECT_DOUBLE_EQ(all->altitude, 50);
}

TEST(SmallImages, IsStrictlyBelowTheAverageOf1024By768) {
    struct Row {
        std::vector<std::pair<uint32_t, uint32_t>> sizes;
        bool small;
    };
    const Row rows[] = {
        {{}, false},
        {{{1024, 768}}, false},
        {{{1024, 767}}, true},
        {{{1024, 768}, {1024, 768}, {1024, 767}}, true},
        {{{2048, 768}, {0, 0}}, false},  // mean exactly 1024 x 768
        {{{2048, 768}, {1, 1}, {1, 1}}, true},
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

TEST(HighResGps, TakesTheFirstTaggedImageInGroupOrder) {
    ImgGrps groups;
    EXPECT_FALSE(hasHighResGps(groups));
    groups.push_back(makeGroup(1, makeImage(10, 10)));
    EXPECT_FALSE(hasHighResGps(groups));
    groups.push_back(makeGroup(2, makeGpsImage(gpsAt(1, 1, 1, Source::kXMP))));
    EXPECT_TRUE(hasHighResGps(groups));
    // An EXIF position in an earlier group wins over XMP positions later on.
    groups.insert(groups.begin() + 1,
                  makeGroup(3, makeImage(10, 10), makeGpsImage(gpsAt(1, 1, 1, Source::kExif)),
                            makeGpsImage(gpsAt(1, 1, 1, Source::kXMP))));
    EXPECT_FALSE(hasHighResGps(groups));
}

TEST(DefaultSettings, FollowTheImages) {
    ImgGrps groups;
    EXPECT_EQ(defaultSettings(groups),
              (SfmCfg::Settings{"F1D2", false, "Global", 10000u, false, false, false}));

    groups.push_back(makeGroup(1, makeImage(640, 480)));
    groups.push_back(makeGroup(2, makeGpsImage(gpsAt(1, 1, 1, Source::kXMP))));
    EXPECT_TRUE(isDiscrete(groups));
    SfmCfg::Settings discrete = defaultSettings(groups);
    EXPECT_EQ(discrete.opticModel, "F1D2");
    EXPECT_EQ(discrete.siftUpsample, false);  // (640 x 480 + 4000 x 3000) / 2 is large
    EXPECT_EQ(discrete.useGps, true);

    groups[0]->images.push_back(makeImage(640, 480));
    EXPECT_FALSE(isDiscrete(groups));
    EXPECT_EQ(defaultSettings(groups).opticModel, "F1D5");

    groups.push_back(makeGroup(3));
    groups[0]->images.pop_back();
    EXPECT_FALSE(isDiscrete(groups)) << "an empty group is not a single image";
}

TEST(MakeGroups, TiedOpticsMakeOneGroupElseOnePerImage) {
    OpticsInfo info{3000, 3001, 2000, 1500, 0.1f, 0.2f, 0.3f, 0.4f, 0.5f, true};
    const SfmCfg::Camera camera{4000, 3000, 3000, 3001, 2000, 1500, 0.1f, 0.2f, 0.3f, 0.4f, 0.5f};
    const auto batch = [] {
        Images images;
        for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"}) {
            images.push_back(makeImage(4000, 3000, name));
        }
        images[1]->meta.width = 17;  // only the first image's size counts
        return images;
    };
    using Files = std::vector<std::vector<std::string>>;
    const auto filesOf = [&](const ImgGrps& groups) {
        Files files;
        for (const auto& group : groups) {
            EXPECT_TRUE(cameraOf(*group) == camera);
            files.emplace_back();
            for (const auto& image : group->images) {
                files.back().push_back(image->file);
            }
        }
        return files;
    };
    EXPECT_EQ(filesOf(makeGroups(batch(), info)), (Files{{"a.jpg", "b.jpg", "c.jpg", "d.jpg"}}));
    info.tiedOptics = false;
    EXPECT_EQ(filesOf(makeGroups(batch(), info)), (Files{{"a.jpg"}, {"b.jpg"}, {"c.jpg"}, {"d.jpg"}}));
    EXPECT_TRUE(makeGroups(Images(), info).empty());
}

TEST(LoadingPercent, IsComputedInSinglePrecisionAndTruncated) {
    // (i + 1) / n * 100 in float; where float and double round differently the float result counts.
    struct Row {
        unsigned index;
        unsigned long long count;
        int32_t percent;
    };
    const Row rows[] = {{0, 1, 100},   {0, 3, 33},    {1, 3, 66},    {2, 3, 100},
                        {28, 100, 29}, {52, 100, 52}, {56, 100, 57}, {998, 1000, 99}};
    for (const Row& row : rows) {
        EXPECT_EQ(loadingPercent(row.index, row.count), row.percent) << row.index << "/" << row.count;
    }
}
