#pragma once
// Helpers shared by the tests: a private temporary directory per test, the shared sample data, and
// readable printing of Qt strings.
#include <filesystem>
#include <ostream>
#include <string>

#include <QString>

#include <gtest/gtest.h>

namespace kxtest {

// A fresh directory removed with everything in it when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return mPath; }
    std::filesystem::path operator/(const std::string& name) const { return mPath / name; }

private:
    std::filesystem::path mPath;
};

// Writes bytes to a file, creating or truncating it.
void writeFile(const std::filesystem::path& path, const std::string& bytes);
std::string readFile(const std::filesystem::path& path);

// The folder of real sample files beside the checkout ("<checkout>/../shared/testdata"), or
// KX_TESTDATA when set; empty when neither exists.
std::filesystem::path sharedTestData();

}  // namespace kxtest

// Skips the current test with a clear message where the sample folder is missing.
#define KX_REQUIRE_SHARED_TESTDATA(dirVar)                                                       \
    const std::filesystem::path dirVar = ::kxtest::sharedTestData();                             \
    if (dirVar.empty()) {                                                                        \
        GTEST_SKIP() << "shared sample data not found (../shared/testdata beside the checkout)"; \
    }

// Missing prerequisites of a real run skip the test on a developer's machine and fail it in CI.
#define KX_REQUIRE(condition, what)                                 \
    if (!(condition)) {                                             \
        if (std::getenv("CI")) {                                    \
            FAIL() << what;                                         \
        }                                                           \
        GTEST_SKIP() << what << " (set CI to make this a failure)"; \
    }

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE
