#pragma once
// The JSON archives of the program. Include this header instead of cereal's json.hpp, and before any
// other header that could bring in RapidJSON: the archive turns RapidJSON's assertions into exceptions
// and fixes the parser flags only when it comes first.
//
// Every JSON archive runs in the compact optional mode:
// - a named optional member is written as its plain value when set and left out when empty;
// - when read, it counts only when it is the member at the current reading position (the reader does
//   not search for it); otherwise it becomes empty and the position stays;
// - optionals without a name (array elements) keep cereal's {"nullopt", "data"} object form.
// Fixed arrays are JSON arrays of their length; a FileKey is a JSON string (config/FileKeyJson.h).
#ifdef RAPIDJSON_READER_H_
#error "config/JsonArchive.h must be included before cereal's JSON archive and before any RapidJSON header"
#endif

// Iterative parsing keeps deeply nested input ("[[[[..." a hundred thousand deep) from exhausting the
// call stack; the recursive parser overflows it.
#undef RAPIDJSON_PARSE_DEFAULT_FLAGS
#define RAPIDJSON_PARSE_DEFAULT_FLAGS kParseFullPrecisionFlag | kParseNanAndInfFlag | kParseIterativeFlag

#include <cereal/archives/json.hpp>
#include <cereal/types/optional.hpp>
#include <cereal/types/string.hpp>
#include <cereal/types/variant.hpp>
#include <cereal/types/vector.hpp>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string_view>
#include <type_traits>
#include <vector>

namespace cereal {

template <class T>
void CEREAL_SAVE_FUNCTION_NAME(JSONOutputArchive& ar, const NameValuePair<std::optional<T>&>& nvp) {
    if (nvp.value) {
        ar(make_nvp(nvp.name, *nvp.value));
    }
}

template <class T>
void CEREAL_SAVE_FUNCTION_NAME(JSONOutputArchive& ar, const NameValuePair<const std::optional<T>&>& nvp) {
    if (nvp.value) {
        ar(make_nvp(nvp.name, *nvp.value));
    }
}

template <class T>
void CEREAL_LOAD_FUNCTION_NAME(JSONInputArchive& ar, NameValuePair<std::optional<T>&>& nvp) {
    const char* here = ar.getNodeName();
    if (here != nullptr && std::strcmp(here, nvp.name) == 0) {
        nvp.value.emplace();
        ar(make_nvp(nvp.name, *nvp.value));
    } else {
        nvp.value.reset();
    }
}

template <class T, std::size_t N>
void CEREAL_SAVE_FUNCTION_NAME(JSONOutputArchive& ar, const std::array<T, N>& array) {
    ar(make_size_tag(static_cast<size_type>(N)));  // makes the node a JSON array
    for (const T& v : array) {
        ar(v);
    }
}

// Elements are read by position. Running out of them is reported with the archive's own text for an
// exhausted node, so a short array, an empty array and an empty object all fail alike.
template <class T, std::size_t N>
void CEREAL_LOAD_FUNCTION_NAME(JSONInputArchive& ar, std::array<T, N>& array) {
    for (T& v : array) {
        try {
            ar(v);
        } catch (const RapidJSONException&) {
            throw;
        } catch (const Exception& e) {
            if (std::string_view(e.what()) == "No more objects in input") {
                throw Exception(
                    "JSONInputArchive internal error: null or empty iterator to object or array!");
            }
            throw;
        }
    }
}

// Grows the vector element by element: a hostile count of tiny elements ("[0,0,0,...") must not make
// the reader allocate a large record per element before the first one fails.
template <class T, class A, traits::EnableIf<!std::is_same<T, bool>::value> = traits::sfinae>
void CEREAL_LOAD_FUNCTION_NAME(JSONInputArchive& ar, std::vector<T, A>& vec) {
    size_type size = 0;
    ar(make_size_tag(size));
    constexpr size_type kReserveLimit = 1024;
    vec.clear();
    vec.reserve(static_cast<std::size_t>(std::min(size, kReserveLimit)));
    for (size_type i = 0; i < size; ++i) {
        vec.emplace_back();
        ar(vec.back());
    }
}

}  // namespace cereal

#include "config/FileKeyJson.h"
#include "config/WireInt.h"
