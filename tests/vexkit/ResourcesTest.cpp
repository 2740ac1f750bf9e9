#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>

#include <QImage>
#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"
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

TEST(Resources, CameraIconIsAPngOfTheCheckedInBytes) {
    const vexkit::ResourceEntry& icon = vexkit::openResource("resources/camera.png");
    ASSERT_NE(icon.data, nullptr);
    EXPECT_EQ(icon.data[icon.size], 0);  // the terminator after the bytes
    EXPECT_FALSE(QImage::fromData(icon.data, static_cast<int>(icon.size), "PNG").isNull());
    EXPECT_EQ(icon.bytes(), kxtest::readFile(kxtest::sourceDir() / "viewer/resources/camera.png"));
}

TEST(Resources, TableHoldsTheViewersShadersAsInTheSourceTree) {
    for (const char* program : {"Points", "Lines", "Image", "Axis"}) {
        for (const char* stage : {"Vertex", "Fragment"}) {
            const std::string name = std::string("draw") + program + stage + ".glsl";
            SCOPED_TRACE(name);
            const vexkit::ResourceEntry* file = vexkit::findResource("shaders/" + name);
            ASSERT_NE(file, nullptr);
            EXPECT_EQ(file->bytes(), kxtest::readFile(kxtest::sourceDir() / "viewer/shaders" / name));
            // Shader sources are passed on as C strings.
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(file->data)).size(), file->size);
        }
    }
}

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
