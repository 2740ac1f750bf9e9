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
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
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

TEST(Resources, DirectoriesAreListedButNotOpened) {
    for (const char* dir : {"shaders", "resources"}) {
        const vexkit::ResourceEntry* entry = vexkit::findResource(dir);
        ASSERT_NE(entry, nullptr) << dir;
        EXPECT_TRUE(entry->isDirectory);
        EXPECT_EQ(entry->data, nullptr);
    }
    const auto pictures = vexkit::listResources("resources");
    EXPECT_NE(std::find(pictures.begin(), pictures.end(), "resources/camera.png"), pictures.end());
    for (const auto& path : vexkit::listResources("shaders")) {
        EXPECT_EQ(path.substr(0, 8), "shaders/");
    }
    expectFilesystemError([] { vexkit::openResource("shaders"); }, "shaders", std::errc::is_a_directory);
    expectFilesystemError([] { vexkit::listResources("resources/camera.png"); }, "resources/camera.png",
                          std::errc::not_a_directory);
}

TEST(Resources, UnknownPathsFailAsMissingFilesNamingThePath) {
    for (const char* path : {"shaders/none.glsl", "camera.png", "/resources/camera.png", "resources/",
                             "./resources/camera.png", "RESOURCES/camera.png", ""}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(vexkit::findResource(path), nullptr);
        expectFilesystemError([path] { vexkit::openResource(path); }, path,
                              std::errc::no_such_file_or_directory);
    }
    expectFilesystemError([] { vexkit::listResources("textures"); }, "textures",
                          std::errc::no_such_file_or_directory);
}

TEST(Resources, EntriesAreUniqueAndOnlyUnderKnownDirectories) {
    const auto entries = vexkit::resourceEntries();
    for (const vexkit::ResourceEntry* entry : entries) {
        EXPECT_EQ(vexkit::findResource(entry->path), entry) << entry->path;
        if (!entry->isDirectory) {
            const auto slash = entry->path.find('/');
            ASSERT_NE(slash, std::string_view::npos) << entry->path;
            const vexkit::ResourceEntry* parent = vexkit::findResource(entry->path.substr(0, slash));
            ASSERT_NE(parent, nullptr) << entry->path;
            EXPECT_TRUE(parent->isDirectory);
        }
    }
}
