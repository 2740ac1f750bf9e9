#pragma once
// The content key of a file: its MD5 as 32 lowercase hexadecimal characters, without terminator.
#include <algorithm>
#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "vexkit/Md5.h"

struct FileKey {
    std::array<char, 32> data{};

    FileKey() = default;
    explicit FileKey(const std::array<char, 32>& text) : data(text) {}

    std::string_view view() const { return {data.data(), data.size()}; }
    std::string str() const { return std::string(view()); }
    // The "Content-MD5" form; throws boost::algorithm::non_hex_input when a character is not a digit.
    std::array<char, 24> base64() const { return hex2base64(data); }

    bool operator==(const FileKey& other) const { return data == other.data; }
    bool operator!=(const FileKey& other) const { return !(*this == other); }
};

namespace std {
template <>
struct hash<FileKey> {
    size_t operator()(const FileKey& key) const noexcept { return hash<string_view>{}(key.view()); }
};
}  // namespace std
