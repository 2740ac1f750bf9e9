#pragma once
// The read-only file table compiled into the program: the viewer's GLSL sources under "shaders/" and
// the pictures under "resources/", addressed by those relative paths.
#include <cstddef>
#include <string_view>
#include <vector>

namespace vexkit {

struct ResourceEntry {
    std::string_view path;      // "shaders/drawPointsVertex.glsl", "resources/camera.png", "shaders"
    const unsigned char* data;  // null for a directory; a file's bytes are followed by one zero byte
    size_t size;                // bytes, without that zero byte
    bool isDirectory;

    std::string_view bytes() const { return {reinterpret_cast<const char*>(data), size}; }
};

// Every entry, files and directories. The table lives for the whole process.
std::vector<const ResourceEntry*> resourceEntries();

// The entry at `path`, or null. Paths are relative and compared exactly ("shaders/a.glsl").
const ResourceEntry* findResource(std::string_view path) noexcept;

// The embedded file at `path`. Throws std::filesystem::filesystem_error naming the path, with
// std::errc::no_such_file_or_directory when the table has no such entry and std::errc::is_a_directory
// when the entry is a directory.
const ResourceEntry& openResource(std::string_view path);

// The paths of the entries directly inside `directory`. Throws std::filesystem::filesystem_error with
// std::errc::no_such_file_or_directory for an unknown directory, std::errc::not_a_directory for a file.
std::vector<std::string_view> listResources(std::string_view directory);

namespace detail {
// Defined by the generated table (cmake/KxEmbed.cmake).
extern const ResourceEntry kResourceEntries[];
extern const size_t kNbResourceEntries;
}  // namespace detail

}  // namespace vexkit
