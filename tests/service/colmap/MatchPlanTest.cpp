// Matching plans on synthetic priors and on the priors the client writes for real drone photographs.
#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>

#include <GeographicLib/LocalCartesian.hpp>
#include <gtest/gtest.h>

#include "metadata/parseExif.h"
#include "project/SfmCfgBuild.h"
#include "service/colmap/MatchPlan.h"
#include "tests/support/TestSupport.h"

namespace {

using kxcolmap::ImagePair;
using kxcolmap::PlanImage;

PlanImage at(double x, double y, double sigma = 1) {
    return {Eigen::Vector3d(x, y, -50), sigma};
}

bool paired(const std::vector<ImagePair>& pairs, uint32_t a, uint32_t b) {
    return std::binary_search(pairs.begin(), pairs.end(), ImagePair(std::min(a, b), std::max(a, b)));
}

// A survey of 1,000 photographs, 40 along each line and 25 lines flown back and forth, in flight order
// and then shuffled: every photograph meets all its grid neighbours, and the cost per photograph stays
// bounded whatever the order says.
TEST(MatchPlan, GridSurveyPairsEveryNeighbourAtBoundedCost) {
    const int nbAlong = 40, nbLines = 25;
    std::vector<PlanImage> images;
    std::vector<std::pair<int, int>> cells;
    for (int line = 0; line < nbLines; ++line) {
        for (int k = 0; k < nbAlong; ++k) {
            const int along = line % 2 == 0 ? k : nbAlong - 1 - k;
            images.push_back(at(10.0 * along, 16.0 * line));
            cells.emplace_back(along, line);
        }
    }
    std::vector<uint32_t> order(images.size());
    std::iota(order.begin(), order.end(), 0);
    for (const bool shuffled : {false, true}) {
        if (shuffled) {
            std::shuffle(order.begin(), order.end(), std::mt19937(7));
        }
        std::vector<PlanImage> listed;
        for (uint32_t i : order) {
            listed.push_back(images[i]);
        }
        for (const bool unordered : {false, true}) {
            const auto plan = kxcolmap::planMatching(listed, unordered);
            EXPECT_EQ(plan.name, "spatial");
            EXPECT_TRUE(plan.retrievalQueries.empty());
            EXPECT_LE(plan.pairs.size(), 15 * listed.size());
            EXPECT_TRUE(std::is_sorted(plan.pairs.begin(), plan.pairs.end()));
            size_t nbMissing = 0;
            for (uint32_t a = 0; a < listed.size(); ++a) {
                for (uint32_t b = a + 1; b < listed.size(); ++b) {
                    const auto& ca = cells[order[a]];
                    const auto& cb = cells[order[b]];
                    if (std::abs(ca.first - cb.first) <= 1 && std::abs(ca.second - cb.second) <= 1) {
                        nbMissing += paired(plan.pairs, a, b) ? 0 : 1;
                    }
                }
            }
            EXPECT_EQ(nbMissing, 0u) << "shuffled " << shuffled << ", unordered " << unordered;
        }
    }
}

// Priors of sites far apart never pair across them; coarse priors fall back to the order, to all pairs
// for small unordered sets, and to retrieval above them.
TEST(MatchPlan, PlanFollowsWhatThePriorsAndTheOrderTell) {
    std::vector<PlanImage> sites;
    for (int i = 0; i < 30; ++i) {
        sites.push_back(at(5.0 * (i % 15), i < 15 ? 0.0 : 20000.0));
    }
    const auto split = kxcolmap::planMatching(sites, true);
    EXPECT_EQ(split.name, "spatial");
    for (const auto& [a, b] : split.pairs) {
        EXPECT_EQ(a < 15, b < 15) << a << " " << b;
    }
    EXPECT_TRUE(paired(split.pairs, 0, 1));
    EXPECT_TRUE(paired(split.pairs, 28, 29));

    std::vector<PlanImage> coarse;
    for (int i = 0; i < 100; ++i) {
        coarse.push_back(at(3.0 * i, 0, 30));
    }
    const auto walk = kxcolmap::planMatching(coarse, false);
    EXPECT_EQ(walk.name, "sequential");
    const size_t overlap = kxcolmap::PlanLimits{}.sequenceOverlap;
    EXPECT_EQ(walk.pairs.size(), 100 * overlap - overlap * (overlap + 1) / 2);
    EXPECT_TRUE(paired(walk.pairs, 10, 10 + overlap));
    EXPECT_FALSE(paired(walk.pairs, 10, 11 + overlap));

    const std::vector<PlanImage> few(coarse.begin(), coarse.begin() + 60);
    EXPECT_EQ(kxcolmap::planMatching(few, true).pairs.size(), 60u * 59 / 2);
    EXPECT_EQ(kxcolmap::planMatching(std::vector<PlanImage>(40), true).name, "exhaustive");
    const auto many = kxcolmap::planMatching(coarse, true);
    EXPECT_EQ(many.name, "retrieval");
    EXPECT_TRUE(many.pairs.empty());
    EXPECT_EQ(many.retrievalQueries.size(), 100u);

    // Without their uncertainty, priors count as coarse.
    std::vector<PlanImage> unknown(sites.begin(), sites.begin() + 15);
    for (PlanImage& image : unknown) {
        image.sigma = std::nan("");
    }
    EXPECT_EQ(kxcolmap::planMatching(unknown, false).name, "sequential");
}

// Photographs without priors among located ones: the order pairs them when it holds, retrieval when
// it does not; the located ones keep their neighbours in space.
TEST(MatchPlan, ImagesWithoutPriorsAmongLocatedOnes) {
    std::vector<PlanImage> images;
    for (int i = 0; i < 20; ++i) {
        images.push_back(i % 5 == 2 ? PlanImage{} : at(4.0 * i, 0));
    }
    const auto ordered = kxcolmap::planMatching(images, false);
    EXPECT_EQ(ordered.name, "spatial");
    EXPECT_TRUE(ordered.retrievalQueries.empty());
    EXPECT_TRUE(paired(ordered.pairs, 2, 3));
    EXPECT_TRUE(paired(ordered.pairs, 1, 3));

    auto unordered = kxcolmap::planMatching(images, true);
    EXPECT_EQ(unordered.retrievalQueries, (std::vector<uint32_t>{2, 7, 12, 17}));
    EXPECT_FALSE(paired(unordered.pairs, 2, 3));
    EXPECT_TRUE(paired(unordered.pairs, 1, 3));
    kxcolmap::addRetrieved(unordered, 2, {3, 1, 2});
    EXPECT_TRUE(paired(unordered.pairs, 2, 3));
    EXPECT_TRUE(std::adjacent_find(unordered.pairs.begin(), unordered.pairs.end()) == unordered.pairs.end());
    EXPECT_EQ(kxcolmap::planJson(unordered).substr(0, 34), "{\"name\": \"spatial\", \"nearest\": 10,");
}

TEST(MatchPlan, RetrievalOutputAndFirstInitialisation) {
    const auto queries = kxcolmap::parseRetrieval(
        "Indexing image [1/3] in 0.3s\n"
        "Querying for image 00005.jpg [1/2] in 0.385s\n"
        "  image_id=5, image_name=00005.jpg, score=0.45\n"
        "  image_id=4, image_name=00004.jpg, score=0.08\n"
        "  image_id=9, image_name=my photo, 2.jpg, score=0.07\n"
        "Querying for image 00017.jpg [2/2] in 0.5s\n");
    ASSERT_EQ(queries.size(), 2u);
    EXPECT_EQ(queries[0].first, "00005.jpg");
    EXPECT_EQ(queries[0].second, (std::vector<std::string>{"00004.jpg", "my photo, 2.jpg"}));
    EXPECT_EQ(queries[1].first, "00017.jpg");
    EXPECT_TRUE(queries[1].second.empty());

    SfmCfg cfg;
    kxcolmap::MatchPlan plan;
    plan.name = "sequential";
    EXPECT_TRUE(kxcolmap::relaxedFirst(cfg, plan));
    plan.name = "spatial";
    EXPECT_FALSE(kxcolmap::relaxedFirst(cfg, plan));
    cfg.poses.emplace();
    cfg.poses->push_back({{}, {}, std::array<float, 3>{0, 1e-9f, 1e-8f}});
    EXPECT_TRUE(kxcolmap::relaxedFirst(cfg, plan));
    cfg.poses->push_back({{}, {}, std::array<float, 3>{0, -1e-8f, 0}});
    cfg.poses->push_back({{}, {}, std::array<float, 3>{0, -1e-8f, 0}});
    EXPECT_FALSE(kxcolmap::relaxedFirst(cfg, plan));
}

// Each drone photograph's prior, as the client derives it from the file, repeated along a line of 12
// photographs 15 m apart: the drone's own satellite or RTK record (at most a few metres) plans pairs in
// space; a position from EXIF alone (about 30 m) does not.
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
