#pragma once
// Whole-file reading.
#include <filesystem>
#include <vector>

namespace vexkit {

// Reads the whole file in binary mode. T is one byte wide (std::byte, char, signed or unsigned char).
// Throws AssertionFailure ("fin.good()") when the file cannot be opened or read to its end, and
// ("!isDirectory") for a directory.
template <typename T>
std::vector<T> loadBinaryFile(const char* file);

template <typename T>
std::vector<T> loadBinaryFile(const std::filesystem::path& file) {
    return loadBinaryFile<T>(file.string().c_str());
}

}  // namespace vexkit
