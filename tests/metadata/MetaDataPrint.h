#pragma once
// Readable printing and exact comparison of metadata records in test failures.
#include <ostream>
#include <string>

#include "metadata/ImgMetaData.h"

std::string describe(const ImgMetaData& meta);
bool operator==(const ImgMetaData::GPS& a, const ImgMetaData::GPS& b);
bool operator==(const ImgMetaData::Attitude& a, const ImgMetaData::Attitude& b);
bool operator==(const ImgMetaData& a, const ImgMetaData& b);
inline void PrintTo(const ImgMetaData& meta, std::ostream* os) {
    *os << describe(meta);
}
