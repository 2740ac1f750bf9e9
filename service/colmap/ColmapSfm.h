#pragma once
// The SfM task of the mapper engine: features per camera group, matching of planned pairs, mapping
// (continued, then retried with the other initialisation, itself continued, when it leaves images out), the
// staged refinement of the intrinsics, alignment to the location priors, and the text export turned into the
// sparse model and a report.
#include <string>
#include <vector>

#include "service/Engine.h"
#include "service/colmap/Commands.h"

namespace kxcolmap {

// The task's seconds: options.taskTimeout, or 60 plus 30 per distinct photograph when it is 0,
// capped at limits::kMaxTaskSeconds.
unsigned taskSeconds(const RunOptions& options, size_t nbImages);

// Writes "0.ksm" (the largest sub-model) and "report.json" in the task's directory and returns them.
// Throws std::runtime_error with the reason on any failure: a subprocess that crashes, ends with an
// error, outlives the task's time or is cancelled, or no model at all.
std::vector<kxservice::ResultFile> runSfm(const kxservice::SfmJob& job, kxservice::TaskContext& context,
                                          const RunOptions& options);

}  // namespace kxcolmap
