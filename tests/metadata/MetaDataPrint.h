#pragma once
// Readable printing of metadata records in test failures, and their comparison as text.
#include <string>

#include "metadata/ImgMetaData.h"

// Every field, to nine significant digits (exact for the single-precision ones).
std::string describe(const ImgMetaData& meta);
bool operator==(const ImgMetaData::GPS& a, const ImgMetaData::GPS& b);
