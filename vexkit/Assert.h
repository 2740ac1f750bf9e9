#pragma once
// Assertion and requirement checks, and the exceptions they raise.
#include <cstdio>
#include <exception>

#include "vexkit/Exception.h"

// Every source file is compiled with KX_UNIT set to its own name (see cmake/KxHelpers.cmake).
#ifndef KX_UNIT
#define KX_UNIT __FILE__
#endif

namespace vexkit {

namespace impl {
// Prints "Error <file>:<line>: failed assertion <expression>" to stdout, then throws AssertionFailure.
[[noreturn]] void assertFailed(const char* expression, const char* file, int line);
inline void assertImpl(bool condition, const char* expression, const char* file, int line) {
    if (!condition) {
        assertFailed(expression, file, line);
    }
}
// Prints "Warning: <expression> at <file>:<line>" to stdout; never throws.
void warnFailed(const char* expression, const char* file, int line) noexcept;
}  // namespace impl
}  // namespace vexkit

// The exception of requirement checks: nothing is printed, `what()` is the expression. A plain
// std::exception, apart from the client's own family above.
struct AssertionFailure : std::exception {
    AssertionFailure(const char* file, int line, const char* function, const char* expression)
        : file(file), line(line), function(function), expression(expression) {}
    const char* what() const noexcept override { return expression; }
    const char* file;
    int line;
    const char* function;
    const char* expression;
};

namespace impl {
inline void requireImpl(bool condition, const char* file, int line, const char* function,
                        const char* expression) {
    if (!condition) {
        throw AssertionFailure{file, line, function, expression};
    }
}
}  // namespace impl

// Assertion of the utility library: prints the failure line, then throws vexkit::AssertionFailure.
#define VEXKIT_ASSERT(expr)                                         \
    do {                                                            \
        if (!static_cast<bool>(expr)) {                             \
            ::vexkit::impl::assertFailed(#expr, KX_UNIT, __LINE__); \
        }                                                           \
    } while (false)

// Requirement check: throws the global AssertionFailure without printing.
#define VEXKIT_REQUIRE(expr) ::impl::requireImpl(static_cast<bool>(expr), KX_UNIT, __LINE__, __func__, #expr)

// A check whose failure is only worth a warning (clean-up paths that must not throw).
#define VEXKIT_WARN_UNLESS(expr)                                  \
    do {                                                          \
        if (!static_cast<bool>(expr)) {                           \
            ::vexkit::impl::warnFailed(#expr, KX_UNIT, __LINE__); \
        }                                                         \
    } while (false)

// Throws vexkit::Exception with a fixed message from the current unit.
#define VEXKIT_THROW(message) throw ::vexkit::Exception((message), KX_UNIT, __LINE__)
