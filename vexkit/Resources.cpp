#include "vexkit/Resources.h"

#include <filesystem>
#include <string>
#include <system_error>

namespace vexkit {
namespace {

[[noreturn]] void fail(const char* what, std::string_view path, std::errc code) {
    throw std::filesystem::filesystem_error(what, std::filesystem::path(std::string(path)),
                                            std::make_error_code(code));
}

}  // namespace

std::vector<const ResourceEntry*> resourceEntries() {
    std::vector<const ResourceEntry*> entries;
    entries.reserve(detail::kNbResourceEntries);
    for (size_t i = 0; i < detail::kNbResourceEntries; ++i) {
        entries.push_back(&detail::kResourceEntries[i]);
    }
    return entries;
}

const ResourceEntry* findResource(std::string_view path) noexcept {
    // A dozen entries: a linear scan beats anything cleverer.
    for (size_t i = 0; i < detail::kNbResourceEntries; ++i) {
        if (detail::kResourceEntries[i].path == path) {
            return &detail::kResourceEntries[i];
        }
    }
    return nullptr;
}

const ResourceEntry& openResource(std::string_view path) {
    const ResourceEntry* entry = findResource(path);
    if (!entry) {
        fail("cannot open embedded file", path, std::errc::no_such_file_or_directory);
    }
    if (entry->isDirectory) {
        fail("cannot open embedded file", path, std::errc::is_a_directory);
    }
    return *entry;
}

std::vector<std::string_view> listResources(std::string_view directory) {
    const ResourceEntry* dir = findResource(directory);
    if (!dir) {
        fail("cannot list embedded directory", directory, std::errc::no_such_file_or_directory);
    }
    if (!dir->isDirectory) {
        fail("cannot list embedded directory", directory, std::errc::not_a_directory);
    }
    std::vector<std::string_view> children;
    for (size_t i = 0; i < detail::kNbResourceEntries; ++i) {
        const std::string_view path = detail::kResourceEntries[i].path;
        // Directly inside: "<directory>/<name>" where the name has no further slash.
        if (path.size() > directory.size() + 1 && path.substr(0, directory.size()) == directory &&
            path[directory.size()] == '/' && path.find('/', directory.size() + 1) == std::string_view::npos) {
            children.push_back(path);
        }
    }
    return children;
}

}  // namespace vexkit
