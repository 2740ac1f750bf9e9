#pragma once
// The steps of the SfM task between extraction and export, each on the task's runner; shared by the
// task's flow in ColmapSfm.cpp.
#include <filesystem>
#include <vector>

#include "config/SfmCfg.h"
#include "service/colmap/MatchPlan.h"
#include "service/colmap/Refinement.h"
#include "service/colmap/Runner.h"
#include "service/colmap/SubModels.h"
#include "service/colmap/TextModel.h"

namespace kxcolmap {

// Plans the pairs (retrieving neighbours where the plan asks), writes them and matches them; progress
// runs from lo to hi. Returns the plan with its final pairs.
MatchPlan matchImages(Runner& runner, kxservice::TaskContext& context, const TaskLayout& layout,
                      const SfmCfg& cfg, const std::vector<ImageSource>& sources, double lo, double hi);

// Frees the parameters of the optic model in a final bundle adjustment of the mapped model; returns
// the refined model's folder, or the mapped one when the refined cameras collapsed (logged).
std::filesystem::path refineIntrinsics(Runner& runner, kxservice::TaskContext& context,
                                       const TaskLayout& layout, const SubModel& mapped,
                                       const OpticModel& refinement, const std::vector<ImageSource>& sources);

}  // namespace kxcolmap
