#pragma once
// Byte-order helpers for the binary readers.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace kxmodel {

inline bool hostIsLittleEndian() {
    const uint16_t probe = 1;
    unsigned char first;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

inline uint16_t byteSwap(uint16_t v) {
    return __builtin_bswap16(v);
}
inline uint32_t byteSwap(uint32_t v) {
    return __builtin_bswap32(v);
}
inline uint64_t byteSwap(uint64_t v) {
    return __builtin_bswap64(v);
}

// Reverses the bytes of a number of any width (1, 2, 4 or 8 bytes) in place.
template <typename T>
inline T swapped(T v) {
    if constexpr (sizeof(T) == 1) {
        return v;
    } else {
        using U = std::conditional_t<sizeof(T) == 2, uint16_t,
                                     std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>>;
        U u;
        std::memcpy(&u, &v, sizeof u);
        u = byteSwap(u);
        std::memcpy(&v, &u, sizeof u);
        return v;
    }
}

// Reverses each 4-byte word of a block in place.
inline void swapWords32(void* data, size_t nbWords) {
    auto* p = static_cast<unsigned char*>(data);
    for (size_t i = 0; i < nbWords; ++i, p += 4) {
        uint32_t w;
        std::memcpy(&w, p, 4);
        w = byteSwap(w);
        std::memcpy(p, &w, 4);
    }
}

}  // namespace kxmodel
