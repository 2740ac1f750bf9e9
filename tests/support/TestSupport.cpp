#include "tests/support/TestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

namespace kxtest {

TempDir::TempDir() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "kxtest";
    std::replace(name.begin(), name.end(), '/', '_');
    std::random_device rd;
    mPath = std::filesystem::temp_directory_path() / ("kx-" + name + "-" + std::to_string(rd()));
    std::filesystem::create_directories(mPath);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(mPath, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ec);
    std::filesystem::remove_all(mPath, ec);
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::filesystem::path sharedTestData() {
    if (const char* env = std::getenv("KX_TESTDATA"); env && *env) {
        return std::filesystem::is_directory(env) ? std::filesystem::path(env) : std::filesystem::path();
    }
    std::filesystem::path dir = std::filesystem::path(KX_SOURCE_DIR).parent_path() / "shared" / "testdata";
    return std::filesystem::is_directory(dir) ? dir : std::filesystem::path();
}

}  // namespace kxtest
