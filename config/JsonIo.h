#pragma once
// Opening JSON archives on text: the writer settings every JSON text of the program shares, and a
// reader that reports text which is not JSON with the parser's own error and position.
#include "config/JsonArchive.h"

#include <cstddef>
#include <istream>
#include <memory>
#include <string>
#include <string_view>

namespace kxjson {

// Thrown when the text is not JSON, or holds a number that the parser would misread (more significant
// digits than any this program writes, or a zero with an exponent): "JSON parse error at offset <n>:
// <reason>".
class ParseError : public cereal::Exception {
public:
    ParseError(std::size_t offset, const std::string& reason);
    std::size_t offset() const { return mOffset; }

private:
    std::size_t mOffset;
};

// Four-space indentation, numbers at full precision.
cereal::JSONOutputArchive::Options outputOptions();

// An input archive on the whole text, positioned on the members of its root. The archive owns a copy of
// the text and the stream over it. Throws ParseError when the text is not JSON (or has such a number) and
// cereal::RapidJSONException ("...IsObject()") when the root is neither an object nor an array.
std::unique_ptr<cereal::JSONInputArchive> openInput(std::string_view text);
// The same on everything left in the stream.
std::unique_ptr<cereal::JSONInputArchive> openInput(std::istream& is);

}  // namespace kxjson
