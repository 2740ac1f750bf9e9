#pragma once
// The runner the command line asks for (--runner), with its engine or its cluster settings.
#include <filesystem>
#include <memory>

#include "service/Options.h"
#include "service/TaskRunner.h"

namespace kxservice {

// dataDir is absolute. Throws std::runtime_error when the engine cannot be made (local) or the worker's
// own path cannot be read (slurm).
std::unique_ptr<TaskRunner> makeRunner(const Options& options, const std::filesystem::path& dataDir);

}  // namespace kxservice
