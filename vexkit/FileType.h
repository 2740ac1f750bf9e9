#pragma once
// File kinds by extension. The numbering travels with transferred files and must not change.
#include <cstdint>
#include <filesystem>
#include <string>

enum class FileType : uint32_t {
    kJpg = 0,
    kAvif = 1,
    kHeif = 2,
    kJxl = 3,
    kJson = 4,
    kYaml = 5,
    kPly = 6,
    kNvm = 7,
    kKsm = 8,
};

// The extension as std::filesystem defines it (".gz" of "a.tar.gz", empty for ".hidden"), in UTF-8,
// with its ASCII letters lowercased.
std::string getFileExtension(const std::filesystem::path& file);

// Maps a lowercased extension to its kind; throws std::runtime_error("unknown extension") otherwise.
FileType fileTypeOf(const std::string& extension);

// The canonical extension of a kind; throws std::logic_error("invalid file type") out of range.
const char* extensionOf(FileType type);
