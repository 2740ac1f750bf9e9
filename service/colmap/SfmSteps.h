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

// Frees the stage's parameters in a bundle adjustment of the model in the given folder; returns the
// refined model's folder, or the given one when the refinement was refused (logged): the radial stage
// when its error grew, the final stage when its cameras collapsed.
std::filesystem::path refineIntrinsics(Runner& runner, kxservice::TaskContext& context,
                                       const TaskLayout& layout, const std::filesystem::path& model,
                                       const OpticModel& stage, bool radial,
                                       const std::vector<ImageSource>& sources);

}  // namespace kxcolmap
