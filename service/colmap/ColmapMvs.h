#pragma once
// The MVS task of the colmap engine: the sparse model written back for colmap, undistorted images, a
// depth and normal map per image (our own CPU stereo, or colmap's where it is built with CUDA), and
// the fusion of the maps into the coloured cloud that the task returns.
#include <vector>

#include "service/Engine.h"
#include "service/colmap/Commands.h"

namespace kxcolmap {

// The task's seconds: options.taskTimeout, or 60 plus 60 per distinct photograph when it is 0,
// capped at limits::kMaxTaskSeconds.
unsigned mvsTaskSeconds(const RunOptions& options, size_t nbImages);

// Writes the dense cloud "dense.ply" (binary PLY: x, y, z, normal, red, green, blue) in the task's
// directory and returns it. Throws std::runtime_error with the reason on any failure: fewer than two
// captures, an image that cannot be read, a subprocess that fails, outlives the task's time or is
// cancelled, or a fusion that keeps no point.
std::vector<kxservice::ResultFile> runMvs(const kxservice::MvsJob& job, kxservice::TaskContext& context,
                                          const RunOptions& options);

}  // namespace kxcolmap
