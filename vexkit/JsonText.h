#pragma once
// Writing JSON by hand where a whole library is not worth it: small reports of known shape.
#include <string>

namespace vexkit {

// `text` as a JSON string literal, quotes included: quotes and backslashes escaped, control characters
// as \u00XX; other bytes (UTF-8) as they are.
std::string jsonQuoted(const std::string& text);

}  // namespace vexkit
