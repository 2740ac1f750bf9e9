// The matching plan on the location priors that the client writes for real drone photographs.
#include <GeographicLib/LocalCartesian.hpp>
#include <gtest/gtest.h>

#include "metadata/parseExif.h"
#include "project/SfmCfgBuild.h"
#include "service/colmap/MatchPlan.h"
#include "tests/support/TestSupport.h"

namespace {

// Each drone photograph's prior, as the client derives it from the file, repeated along a line of 12
// photographs 15 m apart: the drone's own satellite or RTK record (at most a few metres) plans pairs in
// space; a position from EXIF alone (about 30 m) does not. Which pairs are planned is MatchPlanTest's.
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
        for (int along = 0; along < 12; ++along) {
            SfmCfg::Location location = prior;
            location.cartesian = {15.0 * along, 0, -80};
            SfmCfg::Image image;
            image.idxPose = uint32_t(cfg.poses->size());
            cfg.poses->push_back({location, {}, {}});
            cfg.images.push_back(image);
        }
        const bool fromXmp = meta.gps->source == ImgMetaData::GPS::Source::kXMP;
        const auto plan = kxcolmap::planMatching(kxcolmap::planImages(cfg), true);
        EXPECT_EQ(plan.name == "spatial", fromXmp) << entry.path().filename() << " " << plan.reason;
        (fromXmp ? nbSpatial : nbCoarse) += 1;
    }
    EXPECT_GE(nbSpatial, 3u);
    EXPECT_GE(nbCoarse, 1u);
}

}  // namespace
