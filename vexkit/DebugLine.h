#pragma once
// The client's debug lines: one line on standard output, flushed at once so that it interleaves with
// what other tools print. Safe from any thread.
#include <string>

namespace vexkit {

void debugLine(const std::string& line);

}  // namespace vexkit
