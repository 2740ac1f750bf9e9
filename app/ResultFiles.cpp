#include "app/ResultFiles.h"

#include <system_error>

#include "vexkit/FileType.h"

std::filesystem::path getMaxFileWithExt(const std::vector<std::filesystem::path>& files, std::string_view ext,
                                        const std::function<void(const std::filesystem::path&)>& skipped) {
    std::filesystem::path best;
    uintmax_t bestSize = 0;
    for (const std::filesystem::path& file : files) {
        if (getFileExtension(file) != ext) {
            continue;
        }
        // A result removed since its download is skipped rather than failing the whole choice.
        std::error_code error;
        const uintmax_t size = std::filesystem::file_size(file, error);
        if (error) {
            if (skipped) {
                skipped(file);
            }
            continue;
        }
        if (size > bestSize) {
            best = file;
            bestSize = size;
        }
    }
    return best;
}

namespace app {

std::string denseNameOf(const std::filesystem::path& sparseModel) {
    return sparseModel.stem().string() + "_dense";
}

}  // namespace app
