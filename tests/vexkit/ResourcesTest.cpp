#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

#include "vexkit/Resources.h"

namespace {
template <typename F>
void expectFilesystemError(F call, const char* path, std::errc code) {
    try {
        call();
        ADD_FAILURE() << "no error for " << path;
    } catch (const std::filesystem::filesystem_error& e) {
        EXPECT_EQ(e.code(), std::make_error_code(code)) << path;
        EXPECT_EQ(e.path1().string(), path);
    }
}
}  // namespace

// The icon and the shaders are read by the viewer tests; what they never ask for is checked here.
TEST(Resources, OnlyFilesOpenAndUnknownPathsFailAsMissingNamingThePath) {
    const auto pictures = vexkit::listResources("resources");
    EXPECT_NE(std::find(pictures.begin(), pictures.end(), "resources/camera.png"), pictures.end());
    expectFilesystemError([] { vexkit::openResource("shaders"); }, "shaders", std::errc::is_a_directory);
    expectFilesystemError([] { vexkit::listResources("resources/camera.png"); }, "resources/camera.png",
                          std::errc::not_a_directory);
    for (const char* path : {"shaders/none.glsl", "/resources/camera.png", "RESOURCES/camera.png"}) {
        EXPECT_EQ(vexkit::findResource(path), nullptr) << path;
        expectFilesystemError([path] { vexkit::openResource(path); }, path,
                              std::errc::no_such_file_or_directory);
    }
}
