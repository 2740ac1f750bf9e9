#include "vexkit/DebugLine.h"

#include <cstdio>
#include <mutex>

namespace vexkit {

void debugLine(const std::string& line) {
    static std::mutex mutex;
    const std::lock_guard<std::mutex> lock(mutex);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace vexkit
