#pragma once
// The files through which the service and a worker on another machine share a task directory: the
// task's description (written by the service before the job is submitted), and the worker's progress and
// exit files. Each is written to a temporary name and renamed, so that a reader on another machine sees
// the old file or the new one, never a part.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "service/Engine.h"
#include "service/TaskRunner.h"

namespace kxservice::taskfiles {

// What the worker needs to rebuild the task: the engine as the service was told to make it, the task's
// kind and main input (configuration or sparse model), the MVS images in order and where each input
// lies in the store.
struct Description {
    std::string engine;
    EngineOptions options;
    TaskKind kind = TaskKind::kSfm;
    FileKey main;
    std::vector<FileKey> images;
    std::unordered_map<FileKey, std::filesystem::path> inputs;
};

// The worker's verdict: the result files (relative to the task directory) or the reason it failed.
struct Exit {
    bool ok = false;
    std::string failure;
    std::vector<ResultFile> results;
};

void writeAtomically(const std::filesystem::path& path, const std::string& text);

// Throws std::runtime_error for a path that cannot be written into the file (a line break) and for a
// file that does not read.
void writeDescription(const std::filesystem::path& dir, const Description& d);
Description readDescription(const std::filesystem::path& dir);

void writeExit(const std::filesystem::path& dir, const Exit& e);
// Empty when the worker wrote none (or one that does not read). Result paths come back absolute.
std::optional<Exit> readExit(const std::filesystem::path& dir);

void writeProgress(const std::filesystem::path& dir, float ratio);
float readProgress(const std::filesystem::path& dir);  // 0 when none

}  // namespace kxservice::taskfiles
