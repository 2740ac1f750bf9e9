#pragma once
// Choosing which downloaded result to open, and the name a dense cloud gets from its sparse model.
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The largest file of `files` whose extension, lowered, is `ext` (with its dot, such as ".ksm"); ties go
// to the earlier file and empty files are never chosen. A matching file that cannot be measured (it no
// longer exists) is skipped and reported to `skipped`; the result is empty when nothing qualifies.
std::filesystem::path getMaxFileWithExt(
    const std::vector<std::filesystem::path>& files, std::string_view ext,
    const std::function<void(const std::filesystem::path&)>& skipped = {});

namespace app {

// The MVS task name of a sparse model: its file name without the last extension, then "_dense".
std::string denseNameOf(const std::filesystem::path& sparseModel);

}  // namespace app
