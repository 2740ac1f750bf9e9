#pragma once
// Geo-registration of the sparse model to the configuration's location priors, which are positions
// (north, east, down, metres) in the project's local frame.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "config/SfmCfg.h"
#include "service/colmap/TextModel.h"

namespace kxcolmap {

// The location prior of configured image i, or null when it has none with finite coordinates.
const SfmCfg::Location* locationOf(const SfmCfg& cfg, size_t i);

// The priors of the given images, one "NAME NORTH EAST DOWN" line each (the mapper's image name),
// for the images whose configuration entry has a pose with a location. sources[i] is images[i].
struct References {
    std::string text;
    size_t nbLocated = 0;
    double maxError = 0;  // inlier threshold in metres, from the priors' spread
};
References makeReferences(const SfmCfg& cfg, const std::vector<ImageSource>& sources);

struct AlignmentResult {
    bool succeeded = false;
    double meanError = 0;  // metres, between the aligned centres and their priors
    double medianError = 0;
};

// Reads the aligner's own summary lines ("=> Alignment error: M (mean), D (median)", then
// "=> Alignment succeeded" or "=> Alignment failed"); empty when the output has neither.
std::optional<AlignmentResult> parseAlignment(const std::string& output);

}  // namespace kxcolmap
