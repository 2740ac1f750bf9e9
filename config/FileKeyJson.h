#pragma once
// The JSON form of FileKey: one string of its 32 characters. Reading copies the first 32 characters of
// the string and leaves zero characters after a shorter one; a value that is not a string fails with
// the archive's type error. Reached through config/JsonArchive.h.
#include <algorithm>
#include <string>

#include "vexkit/FileKey.h"

namespace cereal {
class JSONOutputArchive;
class JSONInputArchive;
}  // namespace cereal

inline std::string save_minimal(const cereal::JSONOutputArchive&, const FileKey& key) {
    return key.str();
}

inline void load_minimal(const cereal::JSONInputArchive&, FileKey& key, const std::string& text) {
    key.data.fill('\0');
    std::copy_n(text.begin(), std::min(text.size(), key.data.size()), key.data.begin());
}
