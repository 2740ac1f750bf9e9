#include <limits>

#include <gtest/gtest.h>

#include "project/Optics.h"
#include "tests/support/TestSupport.h"

TEST(Optics, PrefillShowsRecordedOpticsWithSixSignificantDigitsElseTheImageCentre) {
    ImgMetaData meta;
    meta.width = 4001;
    meta.height = 3000;
    EXPECT_EQ(prefillOptics(meta), (OpticsTexts{"", "", "2000.5", "1500", "0", "0", "0", "0", "0"}));
    meta.focal = std::array<float, 2>{2945.123456f, 2945.987654f};
    meta.center = std::array<float, 2>{2748.3f, 1815.8f};
    meta.distortion = std::array<float, 5>{-0.11f, 0.02f, 0.0003f, -1e-05f, 123456789.f};
    EXPECT_EQ(prefillOptics(meta), (OpticsTexts{"2945.12", "2945.99", "2748.3", "1815.8", "-0.11", "0.02",
                                                "0.0003", "-1e-05", "1.23457e+08"}));
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
