#include <limits>

#include <gtest/gtest.h>

#include "project/Optics.h"
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
