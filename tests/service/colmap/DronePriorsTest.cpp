// The matching plan on the location priors that the client writes for real drone photographs.
#include <algorithm>
#include <random>

#include <GeographicLib/LocalCartesian.hpp>
#include <gtest/gtest.h>

#include "metadata/parseExif.h"
#include "project/SfmCfgBuild.h"
#include "service/colmap/MatchPlan.h"
#include "tests/support/TestSupport.h"

namespace {

// Each drone photograph's prior, as the client derives it from the file, repeated over a survey of
// 12 x 8 photographs 15 m apart along the lines and 20 m across them, listed in a shuffled order: the
// drone's own satellite or RTK record (at most a few metres) plans pairs in space, every photograph
// meeting its grid neighbours whatever the order; a position from EXIF alone (about 30 m) does not.
TEST(MatchPlan, DronePriorsAsTheClientWritesThem) {
    const auto dir = kxtest::sharedTestData() / "images-drone";
    KX_REQUIRE(std::filesystem::exists(dir),
               "shared sample data not found (../shared/testdata/images-drone)");
    size_t nbSpatial = 0, nbCoarse = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (!entry.is_regular_file()) {
            continue;
        }
        const ImgMetaData meta = parseExif(entry.path().c_str());
        if (!meta.gps) {
            continue;
        }
        const GeographicLib::LocalCartesian frame(meta.gps->latitude, meta.gps->longitude,
                                                  meta.gps->altitude);
        const SfmCfg::Location prior = locationPrior(meta, frame);
        SfmCfg cfg;
        cfg.poses.emplace();
        std::vector<std::pair<int, int>> cells;
        for (int line = 0; line < 8; ++line) {
            for (int k = 0; k < 12; ++k) {
                cells.emplace_back(k, line);
            }
        }
        std::shuffle(cells.begin(), cells.end(), std::mt19937(3));
        for (const auto& [along, across] : cells) {
            SfmCfg::Location location = prior;
            location.cartesian = {15.0 * along, 20.0 * across, -80};
            SfmCfg::Image image;
            image.idxPose = uint32_t(cfg.poses->size());
            cfg.poses->push_back({location, {}, {}});
            cfg.images.push_back(image);
        }
        const bool fromXmp = meta.gps->source == ImgMetaData::GPS::Source::kXMP;
        for (const bool unordered : {false, true}) {
            const auto plan = kxcolmap::planMatching(kxcolmap::planImages(cfg), unordered);
            EXPECT_EQ(plan.name == "spatial", fromXmp) << entry.path().filename() << " " << plan.reason;
            if (plan.name != "spatial") {
                continue;
            }
            for (uint32_t a = 0; a < cells.size(); ++a) {
                for (uint32_t b = a + 1; b < cells.size(); ++b) {
                    if (std::abs(cells[a].first - cells[b].first) <= 1 &&
                        std::abs(cells[a].second - cells[b].second) <= 1) {
                        EXPECT_TRUE(std::binary_search(plan.pairs.begin(), plan.pairs.end(),
                                                       kxcolmap::ImagePair(a, b)))
                            << entry.path().filename();
                    }
                }
            }
        }
        (fromXmp ? nbSpatial : nbCoarse) += 1;
    }
    EXPECT_GE(nbSpatial, 3u);
    EXPECT_GE(nbCoarse, 1u);
}

}  // namespace
