#pragma once
// Which image pairs the matcher compares, planned from what the configuration knows: the location
// priors, the order of the images and their count. Every plan bounds the pairs per photograph, except
// exhaustive matching, which is kept to small sets; the pairs are then imported as a list.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <Eigen/Core>

#include "config/SfmCfg.h"

namespace kxcolmap {

struct PlanLimits {
    size_t nbNearest = 10;        // nearest photographs in space that each photograph is paired with
    size_t sequenceOverlap = 4;   // following photographs in the configured order
    size_t exhaustiveLimit = 60;  // largest set that is matched all against all
    size_t nbRetrieved = 10;      // photographs that retrieval proposes for each one
    size_t nbWords = 4096;        // words of the retrieval vocabulary
};

// What the planner knows of each image: its location prior (metres, in the configuration's frame) and
// the prior's horizontal standard deviation (metres; NaN when the prior gives none).
struct PlanImage {
    std::optional<Eigen::Vector3d> position;
    double sigma = 0;
};

std::vector<PlanImage> planImages(const SfmCfg& cfg);

using ImagePair = std::pair<uint32_t, uint32_t>;  // indices into the images, first < second

struct MatchPlan {
    std::string name;  // "spatial", "sequential", "exhaustive" or "retrieval"
    std::vector<std::pair<std::string, double>> parameters;
    std::vector<ImagePair> pairs;  // sorted, each once
    // Images whose retrieved neighbours are added to the pairs once the vocabulary is built.
    std::vector<uint32_t> retrievalQueries;
    std::string reason;  // why this plan, for the task log
};

// Spatial when at least three images have priors whose typical uncertainty lies below the typical
// spacing between them: each located image with its nbNearest nearest, plus the sequence when the
// order holds, plus retrieval for images without priors when the order does not. Otherwise the
// sequence when the order holds, all pairs up to exhaustiveLimit images, and retrieval above it.
MatchPlan planMatching(const std::vector<PlanImage>& images, bool unordered, const PlanLimits& limits = {});

// Adds the pairs of each query with its retrieved images, keeping the pairs sorted and unique.
void addRetrieved(MatchPlan& plan, uint32_t query, const std::vector<uint32_t>& retrieved);

// The retriever's output ("Querying for image NAME [i/N] ...", then "  image_id=ID, image_name=NAME,
// score=S" per image found): each query with the images retrieved for it, its own name left out.
std::vector<std::pair<std::string, std::vector<std::string>>> parseRetrieval(const std::string& output);

// Whether the mapper should start with its relaxed initialisation, which accepts a first pair moving
// along its optical axis: the images form an ordered sequence without usable location priors (a walk
// with a hand-held camera), or most of their motion priors point along the optical axis. Otherwise the
// default initialisation, which finds a better first pair when the camera moves sideways, goes first.
bool relaxedFirst(const SfmCfg& cfg, const MatchPlan& plan);

// The plan's name and parameters as a JSON object, and as words for the log.
std::string planJson(const MatchPlan& plan);
std::string planText(const MatchPlan& plan);

}  // namespace kxcolmap
