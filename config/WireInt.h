#pragma once
// An enumeration or narrow integer carried in an archive as the integer type Wire. Reading refuses a
// value that does not survive the round trip through the field's type instead of silently wrapping it
// (a stage 258 must not become stage 2).
#include <string>
#include <type_traits>

#include <cereal/cereal.hpp>

namespace kxjson {

template <class Wire, class T>
struct WireInt {
    static_assert(std::is_integral<Wire>::value, "the wire type is an integer");
    using WireType = Wire;
    T& value;
};

template <class Wire, class T>
WireInt<Wire, T> wireInt(T& value) {
    return WireInt<Wire, T>{value};
}

template <class Archive, class Wire, class T>
Wire save_minimal(const Archive&, const WireInt<Wire, T>& w) {
    return static_cast<Wire>(w.value);
}

template <class Archive, class Wire, class T>
void load_minimal(const Archive&, WireInt<Wire, T>& w, const typename WireInt<Wire, T>::WireType& v) {
    // (v is in a non-deduced context: cereal probes this overload with a value convertible to anything)
    const T narrowed = static_cast<T>(v);
    if (static_cast<Wire>(narrowed) != v) {
        throw cereal::Exception("JSON integer " + std::to_string(v) + " out of range for its field");
    }
    w.value = narrowed;
}

}  // namespace kxjson

// A named field written as the integer type Wire; the JSON name is the field's own name.
#define KX_WIRE_NVP(Wire, field) ::cereal::make_nvp(#field, ::kxjson::wireInt<Wire>(field))
