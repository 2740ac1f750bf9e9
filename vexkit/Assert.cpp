#include "vexkit/Assert.h"

namespace vexkit::impl {

void assertFailed(const char* expression, const char* file, int line) {
    // Printed before the throw so that the log keeps the failure even when a caller recovers.
    std::printf("Error %s:%d: failed assertion %s\n", file, line, expression);
    std::fflush(stdout);
    throw AssertionFailure(expression, file, line);
}

void warnFailed(const char* expression, const char* file, int line) noexcept {
    std::printf("Warning: %s at %s:%d\n", expression, file, line);
    std::fflush(stdout);
}

}  // namespace vexkit::impl
