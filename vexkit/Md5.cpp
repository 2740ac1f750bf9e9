#include "vexkit/Md5.h"

#include <fstream>
#include <memory>
#include <type_traits>

#include <boost/algorithm/hex.hpp>
#include <boost/uuid/detail/md5.hpp>
#include <boost/version.hpp>

// The digest is taken from the words of Boost's internal MD5 engine, whose layout is no public promise:
// in Boost 1.74 they are four 32-bit words, each holding four digest bytes most significant first. Other
// versions changed it without a change of name, and the keys would silently differ. Admit another version
// only after the known answers of the MD5 tests pass with it.
#if BOOST_VERSION != 107400
#error "vexkit/Md5.cpp knows the MD5 digest layout of Boost 1.74 only; check this Boost version's layout"
#endif
static_assert(std::is_same_v<boost::uuids::detail::md5::digest_type, unsigned int[4]>,
              "the MD5 engine's digest is expected as four 32-bit words");

namespace vexkit {

Md5Digest md5sum(char const* path) {
    constexpr std::streamsize kPiece = 256 * 1024;
    boost::uuids::detail::md5 engine;
    std::ifstream fin(path, std::ios::binary);
    const auto buffer = std::make_unique<char[]>(kPiece);
    while (fin.good()) {
        fin.read(buffer.get(), kPiece);
        if (fin.gcount() > 0) {
            engine.process_bytes(buffer.get(), static_cast<size_t>(fin.gcount()));
        }
    }
    boost::uuids::detail::md5::digest_type words;
    engine.get_digest(words);
    // The engine's words already read as big-endian numbers of the digest bytes (most significant first).
    return {words[0], words[1], words[2], words[3]};
}

}  // namespace vexkit

std::array<char, 32> encodeHex(const vexkit::Md5Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::array<char, 32> out{};
    size_t pos = 0;
    for (uint32_t word : digest) {
        for (int shift = 28; shift >= 0; shift -= 4) {
            out[pos++] = kDigits[(word >> shift) & 0xFu];
        }
    }
    return out;
}

namespace {
// Standard Base64 of the 16 digest bytes, with "=" padding.
std::array<char, 24> base64Of(const uint8_t (&bytes)[16]) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::array<char, 24> out{};
    size_t pos = 0;
    for (size_t i = 0; i < 15; i += 3) {
        const uint32_t group = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        out[pos++] = kAlphabet[(group >> 18) & 63];
        out[pos++] = kAlphabet[(group >> 12) & 63];
        out[pos++] = kAlphabet[(group >> 6) & 63];
        out[pos++] = kAlphabet[group & 63];
    }
    // The 16th byte: one full group and the last two bits padded with four zero bits.
    out[pos++] = kAlphabet[bytes[15] >> 2];
    out[pos++] = kAlphabet[(bytes[15] & 3) << 4];
    out[pos++] = '=';
    out[pos++] = '=';
    return out;
}
}  // namespace

std::array<char, 24> encode64(const vexkit::Md5Digest& digest) {
    uint8_t bytes[16];
    for (size_t i = 0; i < 16; ++i) {
        bytes[i] = static_cast<uint8_t>(digest[i / 4] >> (24 - 8 * (i % 4)));
    }
    return base64Of(bytes);
}

std::array<char, 32> md5sumHex(char const* path) {
    return encodeHex(vexkit::md5sum(path));
}

std::array<char, 24> hex2base64(const std::array<char, 32>& hex) {
    uint8_t bytes[16];
    boost::algorithm::unhex(hex.begin(), hex.end(), bytes);
    return base64Of(bytes);
}
