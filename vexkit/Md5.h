#pragma once
// MD5 digests of files and their hexadecimal and Base64 forms.
#include <array>
#include <cstdint>

namespace vexkit {
// Word i holds digest bytes 4i..4i+3 as a big-endian number.
using Md5Digest = std::array<uint32_t, 4>;

// MD5 of the file's content, read in 256 KiB pieces. A file that cannot be opened hashes as empty.
Md5Digest md5sum(char const* path);
}  // namespace vexkit

// Lowercase hexadecimal, high nibble first.
std::array<char, 32> encodeHex(const vexkit::Md5Digest& digest);
// Standard Base64 with "=" padding.
std::array<char, 24> encode64(const vexkit::Md5Digest& digest);
std::array<char, 32> md5sumHex(char const* path);
// Base64 of the 16 bytes that the hexadecimal text spells. Throws boost::algorithm::non_hex_input on a
// character that is not a hexadecimal digit.
std::array<char, 24> hex2base64(const std::array<char, 32>& hex);
