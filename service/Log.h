#pragma once
// The service log: one timestamped line per event on standard error.
#include <string>
#include <string_view>

namespace kxservice {

// "2026-12-06T20:15:03.123Z" (UTC).
std::string timestamp();
// Writes "<timestamp> <line>\n" to standard error in one piece, so that lines of threads never mix.
void logLine(std::string_view line);

}  // namespace kxservice
