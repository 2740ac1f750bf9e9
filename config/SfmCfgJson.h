#pragma once
// The JSON text of a configuration ("sfm.json" and the upload payload): the members of SfmCfg directly
// in the root object, in field order, compact optionals, four-space indentation, numbers at full
// precision, non-finite numbers as NaN, Infinity and -Infinity.
#include <istream>
#include <ostream>

#include "config/SfmCfg.h"

// Writes the whole text; never fails on the record's content. The caller checks the stream's state.
void writeSfmCfg(std::ostream& os, const SfmCfg& cfg);

// Reads a configuration from everything left in the stream. Throws the archive errors:
// kxjson::ParseError when the text is not JSON, cereal::RapidJSONException for a value of the wrong
// JSON type, cereal::Exception for a missing required member or a short fixed array.
SfmCfg readSfmCfg(std::istream& is);
