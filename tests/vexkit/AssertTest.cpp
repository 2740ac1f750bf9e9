#include <stdexcept>
#include <string>
#include <type_traits>

#include <gtest/gtest.h>

#include "vexkit/Assert.h"

// Callers catch broadly: vexkit::AssertionFailure is a vexkit::Exception is a std::runtime_error; the
// global one is a plain std::exception, deliberately outside that family.
static_assert(std::is_base_of_v<vexkit::Exception, vexkit::AssertionFailure> &&
              std::is_base_of_v<std::runtime_error, vexkit::Exception>);
static_assert(std::is_base_of_v<std::exception, AssertionFailure> &&
              !std::is_base_of_v<std::runtime_error, AssertionFailure>);

TEST(Assert, FailuresCarryTheirSiteAndOnlyAssertionsAndWarningsPrint) {
    int calls = 0;
    auto check = [&] { return ++calls > 0; };
    testing::internal::CaptureStdout();
    VEXKIT_ASSERT(check());
    VEXKIT_REQUIRE(check());
    VEXKIT_WARN_UNLESS(check());
    EXPECT_EQ(calls, 3);  // each condition is evaluated once
    int assertLine = 0;
    try {
        // clang-format off
        assertLine = __LINE__; VEXKIT_ASSERT(1 + 1 == 3);
        // clang-format on
        ADD_FAILURE() << "no throw";
    } catch (const vexkit::AssertionFailure& e) {
        EXPECT_STREQ(e.what(), "1 + 1 == 3");
        EXPECT_STREQ(e.file, "AssertTest");
        EXPECT_EQ(e.line, assertLine);
    }
    // clang-format off
    const int warnLine = __LINE__; VEXKIT_WARN_UNLESS(2 < 1);
    // clang-format on
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error AssertTest:" + std::to_string(assertLine) + ": failed assertion 1 + 1 == 3\n" +
                  "Warning: 2 < 1 at AssertTest:" + std::to_string(warnLine) + "\n");
}
