#pragma once
// Conversions between Qt strings and filesystem paths, always through UTF-8.
#include <filesystem>

#include <QString>

// Throws the filesystem library's conversion error for text that is not valid in a path.
std::filesystem::path toPath(const QString& text);
QString toQStr(const std::filesystem::path& path);
