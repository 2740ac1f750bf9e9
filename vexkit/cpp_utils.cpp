#include "vexkit/cpp_utils.h"

#include <cstddef>
#include <filesystem>
#include <fstream>

#include "vexkit/Assert.h"

namespace vexkit {

template <typename T>
std::vector<T> loadBinaryFile(const char* file) {
    static_assert(sizeof(T) == 1);
    // A directory opens as a stream whose end lies at the largest offset; its "size" would be allocated.
    std::error_code ec;
    const bool isDirectory = std::filesystem::is_directory(file, ec);
    VEXKIT_REQUIRE(!isDirectory);
    std::ifstream fin(file, std::ios::binary);
    fin.seekg(0, std::ios::end);
    const std::streamoff size = fin.tellg();
    // A file that cannot be opened has no size: fail before allocating anything.
    VEXKIT_REQUIRE(fin.good());
    fin.seekg(0, std::ios::beg);
    std::vector<T> data(static_cast<size_t>(size));
    fin.read(reinterpret_cast<char*>(data.data()), size);
    VEXKIT_REQUIRE(fin.good());
    return data;
}

template std::vector<std::byte> loadBinaryFile<std::byte>(const char*);
template std::vector<signed char> loadBinaryFile<signed char>(const char*);
template std::vector<char> loadBinaryFile<char>(const char*);
template std::vector<unsigned char> loadBinaryFile<unsigned char>(const char*);

}  // namespace vexkit
