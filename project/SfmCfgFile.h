#pragma once
// The configuration on disk, and the project an imported configuration describes.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "config/SfmCfg.h"
#include "project/Image.h"
#include "project/ProjectRules.h"

// Writes the configuration as JSON, replacing the file. Throws std::runtime_error naming the path when
// the file cannot be created or written; nothing is left half-written by the serialiser itself.
void writeSfmCfgFile(const std::filesystem::path& path, const SfmCfg& cfg);

// Reads a configuration file. Throws std::runtime_error naming the path when it cannot be opened, and
// the JSON archive's errors for text that is not a configuration.
SfmCfg readSfmCfgFile(const std::filesystem::path& path);

// Throws std::out_of_range when an image refers to a camera the file does not have.
void checkCameraIndices(const SfmCfg& cfg);

// What an import puts in place of the current project.
struct ImportedProject {
    ImgGrps groups;
    TiePoints tiePoints;
    std::optional<SfmCfg::Settings> settings;
};

// Loads the images of a configuration (paths in the local 8-bit encoding, in image order) and returns
// them grouped by camera. Every camera index is checked before anything is loaded; any failure leaves by
// exception, so the caller's project is untouched until it takes the result.
using BatchLoader = std::function<Images(const std::vector<std::string>& files)>;
ImportedProject prepareImport(SfmCfg cfg, const BatchLoader& load);
