#include "vexkit/Assert.h"

#include "vexkit/DebugLine.h"

namespace vexkit::impl {

void assertFailed(const char* expression, const char* file, int line) {
    // Printed before the throw so that the log keeps the failure even when a caller recovers.
    debugLine("Error " + std::string(file) + ":" + std::to_string(line) + ": failed assertion " + expression);
    throw AssertionFailure(expression, file, line);
}

void warnFailed(const char* expression, const char* file, int line) noexcept {
    debugLine("Warning: " + std::string(expression) + " at " + file + ":" + std::to_string(line));
}

}  // namespace vexkit::impl
