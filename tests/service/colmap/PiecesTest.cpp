// The piece of the colmap engine that needs no colmap: reading its text export.
#include <cmath>
#include <stdexcept>

#include <gtest/gtest.h>

#include "service/colmap/TextModel.h"
#include "tests/support/TestSupport.h"

namespace {

using kxcolmap::ImageSource;

const char* kCameras =
    "# Camera list with one line of data per camera:\n"
    "7 OPENCV 640 480 500 510 320.5 240.25 0.1 -0.02 0.001 0.002\n"
    "3 SIMPLE_PINHOLE 1024 768 900 512 384\n";

// Image 12 is rotated 90 degrees about z (quaternion given unnormalised), image 5 has no features at
// all, and 04.jpg is never registered.
const char* kImages =
    "# Image list with two lines of data per image:\n"
    "# Number of images: 3\n"
    "12 1.4142135623730951 0 0 1.4142135623730951 1 2 3 3 02.jpg\n"
    "10.5 20.25 42 30 40 -1 7.5 8.5 100\n"
    "5 1 0 0 0 0 0 0 7 03.jpg\n"
    "\n"
    "9 1 0 0 0 -1 -2 -3 3 01.jpg\n"
    "1 2 100\n";

// Point 7 is observed by no image.
const char* kPoints =
    "# 3D point list with one line of data per point:\n"
    "100 1 2 3 255 0 10 0.5 12 2 9 0\n"
    "42 -1.5 0 2.5 1 2 3 1.5 12 0\n"
    "7 0 0 0 9 9 9 1.0\n";

std::vector<ImageSource> sources() {
    return {{"01.jpg", "/photos/one.jpg", {1, 2, 3, 4}},
            {"02.jpg", "/photos/twö.jpg", {5, 6, 7, 8}},
            {"03.jpg", "/photos/three.jpg", {9, 10, 11, 12}},
            {"04.jpg", "/photos/four.jpg", {13, 14, 15, 16}}};
}

void writeModel(const kxtest::TempDir& dir, const char* cameras, const char* images, const char* points) {
    kxtest::writeFile(dir / "cameras.txt", cameras);
    kxtest::writeFile(dir / "images.txt", images);
    kxtest::writeFile(dir / "points3D.txt", points);
}

TEST(TextModel, ConvertsPosesCamerasPointsAndMeasurements) {
    kxtest::TempDir dir;
    writeModel(dir, kCameras, kImages, kPoints);
    kxcolmap::TextModelSummary summary;
    const ksm::Model<1u> model = kxcolmap::readTextModel(dir.path(), sources(), &summary);

    // Centres are -R^T t: the identity pose at t = (-1, -2, -3) sits at (1, 2, 3); the 90-degree turn
    // about z maps t = (1, 2, 3) to the centre (-2, 1, -3).
    ASSERT_EQ(model.poses.size(), 3u);
    const float h = float(std::sqrt(0.5));
    const kxsfm::Pose expectedPoses[] = {
        {{1, 0, 0, 0}, {1, 2, 3}, {}}, {{h, 0, 0, h}, {-2, 1, -3}, {}}, {{1, 0, 0, 0}, {0, 0, 0}, {}}};
    for (size_t i = 0; i < 3; ++i) {
        const auto& p = model.poses[i];
        const auto& e = expectedPoses[i];
        EXPECT_NEAR(p.rotation.w, e.rotation.w, 1e-6) << i;
        EXPECT_NEAR(p.rotation.z, e.rotation.z, 1e-6) << i;
        EXPECT_EQ(p.rotation.x, 0) << i;
        EXPECT_NEAR(p.centre.x, e.centre.x, 1e-6) << i;
        EXPECT_NEAR(p.centre.y, e.centre.y, 1e-6) << i;
        EXPECT_NEAR(p.centre.z, e.centre.z, 1e-6) << i;
    }

    ksm::Model<1u> expected;
    expected.poses = model.poses;
    // Cameras and points in ascending id order; one focal length is both fx and fy.
    expected.cameras = {{{900, 900}, {512, 384}, {0, 0, 0, 0, 0}},
                        {{500, 510}, {320.5f, 240.25f}, {0.1f, -0.02f, 0.001f, 0.002f, 0}}};
    expected.cameraImageSizes = {{1024, 768}, {640, 480}};
    expected.points = {{0, 0, 0}, {-1.5f, 0, 2.5f}, {1, 2, 3}};
    expected.colors = {{9, 9, 9}, {1, 2, 3}, {255, 0, 10}};
    // Captures in source order, paths and digests as the sources name them.
    expected.captures = {{0, 0, {{2, {1, 2}}}, "/photos/one.jpg", {1, 2, 3, 4}},
                         {0, 1, {{1, {10.5f, 20.25f}}, {2, {7.5f, 8.5f}}}, "/photos/twö.jpg", {5, 6, 7, 8}},
                         {1, 2, {}, "/photos/three.jpg", {9, 10, 11, 12}}};
    EXPECT_EQ(model, expected);

    EXPECT_EQ(summary.nbRegistered, 3u);
    EXPECT_EQ(summary.nbPoints, 3u);
    EXPECT_EQ(summary.nbMeasurements, 3u);
    EXPECT_DOUBLE_EQ(summary.meanReprojectionError, 1.0);
    EXPECT_EQ(summary.unregistered, std::vector<std::string>{"/photos/four.jpg"});
}

// Indices that point nowhere and lines that do not read are refused, not followed.
TEST(TextModel, RefusesInconsistentExports) {
    const char* const rows[][3] = {
        {kCameras, "1 1 0 0 0 0 0 0 3 99.jpg\n\n", ""},                              // image not given
        {kCameras, "1 1 0 0 0 0 0 0 3 01.jpg\n1 2 5\n", ""},                         // undefined point
        {kCameras, "1 1 0 0 0 0 0 0 4 01.jpg\n\n", ""},                              // undefined camera
        {kCameras, "1 1 0 0 0 0 0 0 3 01.jpg\n\n2 1 0 0 0 0 0 0 3 01.jpg\n\n", ""},  // registered twice
        {kCameras, "1 1 0 0 0 0 0 0 3 01.jpg\n1 2\n", ""},                           // half a feature
        {kCameras, "", "1 0 0 0 300 0 0 1\n"},                                       // colour over 255
        {"1 PINHOLE 10 10 1 2 3\n", "", ""},                                         // too few parameters
    };
    for (const auto& row : rows) {
        kxtest::TempDir dir;
        writeModel(dir, row[0], row[1], row[2]);
        EXPECT_THROW(kxcolmap::readTextModel(dir.path(), sources()), std::runtime_error) << row[1] << row[2];
    }
}

}  // namespace
