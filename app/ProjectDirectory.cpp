#include "app/ProjectDirectory.h"

#include <system_error>

#include "gui/Gui.h"

namespace app {

QString noProjectDirectoryMessage() {
    return QStringLiteral("Project directory is not set. Please set with File -> Set Project Directory.");
}

bool hasProjectDirectory() {
    if (!workDirOpt) {
        return false;
    }
    std::error_code ec;  // an unreadable parent counts as missing, not as an error
    return std::filesystem::is_directory(workDir(), ec);
}

void setProjectDirectory(const std::filesystem::path& dir) {
    // Absolute first: after the change a relative name would resolve against the new directory.
    const std::filesystem::path absolute = std::filesystem::absolute(dir);
    // Enter it before recording it, so a directory that cannot be entered leaves the project as it was.
    std::error_code ec;
    std::filesystem::current_path(absolute, ec);
    if (ec) {
        throw std::filesystem::filesystem_error("cannot enter the project directory", absolute, ec);
    }
    workDirOpt = absolute;
}

}  // namespace app
