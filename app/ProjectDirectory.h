#pragma once
// The project directory as the main window's commands use it; plain functions, testable without widgets.
#include <filesystem>

#include <QString>

namespace app {

// What checkWorkDir shows when there is no usable project directory.
QString noProjectDirectoryMessage();

// True when a project directory was set and still names an existing directory.
bool hasProjectDirectory();

// Makes `dir` the process's working directory, so that relative paths resolve inside the project, and
// then the project directory. Throws std::filesystem::filesystem_error when the directory cannot be
// entered; nothing changes then.
void setProjectDirectory(const std::filesystem::path& dir);

}  // namespace app
