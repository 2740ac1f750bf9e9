#pragma once
// Depth and normal maps for the dense workspace, computed on the CPU.
//
// Method. For each reference image, up to four source images are picked among those that share the
// most sparse points with it at a triangulation angle of about 5 to 40 degrees. Each source gives a
// depth per reference pixel: where the epipoles lie outside both images, the pair is rectified and
// matched by semi-global matching with its left-right check, each disparity refined by a parabola
// through the normalised cross-correlation, and turned into a depth along the reference pixel's ray;
// otherwise (mostly forward motion) fronto-parallel planes are swept through the depth range and each
// pixel keeps the plane of best normalised cross-correlation, refined to a fraction of a plane, unless a
// half-pixel mismatch would move its depth by more than 1 %. The depth range is that of the sparse points
// the reference sees, widened. A depth is kept only where at least two sources agree within a relative
// tolerance; a plane fitted to the inverse depth around each pixel gives its normal (facing the camera)
// and replaces the depth where the two agree. The maps are written in the dense workspace's binary
// format and fused by the fusion program.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <Eigen/Core>
#include <opencv2/core.hpp>

#include "model/KsmModel.h"

namespace kxcolmap::dense {

// An undistorted image of the workspace: pinhole intrinsics in OpenCV's pixel convention (the centre of
// the top-left pixel at 0, 0), world-to-camera rotation and translation, and the sparse points it sees.
struct View {
    std::string name;
    int width = 0, height = 0;
    Eigen::Matrix3d K = Eigen::Matrix3d::Identity();
    Eigen::Matrix3d R = Eigen::Matrix3d::Identity();
    Eigen::Vector3d t = Eigen::Vector3d::Zero();
    std::vector<uint32_t> points;
    Eigen::Vector3d centre() const { return -R.transpose() * t; }
    // Camera coordinates of a world point.
    Eigen::Vector3d toCamera(const Eigen::Vector3d& x) const { return R * x + t; }
};

struct Scene {
    std::vector<View> views;
    std::vector<Eigen::Vector3d> points;
};

// The scene of an undistorted sparse model (every camera a pinhole without distortion, whose principal
// point measures from the image's top-left corner); names[i] is capture i's image. Throws
// std::runtime_error on a camera with distortion or an index the model lacks.
Scene sceneOf(const ksm::Model<1u>& model, const std::vector<std::string>& names);

struct DepthOptions {
    size_t maxSources = 4;
    double minAngleDeg = 5, maxAngleDeg = 40;  // preferred triangulation angles of a source
    double agreement = 0.01;                   // relative depth difference of agreeing sources
    int window = 11;                           // side of the correlation window, pixels
    float minScore = 0.5f;                     // least normalised cross-correlation kept
    double maxDepthError = 0.01;               // largest relative depth error a half-pixel mismatch may cause
};

// The sources of view ref, best first: views that see sparse points of ref from a useful angle.
std::vector<size_t> pickSources(const Scene& scene, size_t ref, const DepthOptions& options);

// Nearest and farthest depth worth searching in view ref, from the sparse points it sees (or, when it
// sees fewer than ten, those in front of it); empty when there is none.
std::optional<std::pair<double, double>> depthRange(const Scene& scene, size_t ref);

// Whether the epipoles of the pair lie outside both images, so that the pair can be rectified.
bool epipolesOutside(const View& a, const View& b);

// One source's depth for every reference pixel (0 where it has none), from grey images (CV_8U) of the
// reference and the source.
cv::Mat sweptDepths(const View& ref, const cv::Mat& refGrey, const View& src, const cv::Mat& srcGrey,
                    std::pair<double, double> range, const DepthOptions& options);
cv::Mat rectifiedDepths(const View& ref, const cv::Mat& refGrey, const View& src, const cv::Mat& srcGrey,
                        std::pair<double, double> range, const DepthOptions& options);

// The depth where at least two of the maps agree within the relative tolerance (their mean), else 0.
cv::Mat agreedDepths(const std::vector<cv::Mat>& depths, double tolerance);

// Unit normals (CV_32FC3, camera coordinates, facing the camera) of a depth map; pixels whose
// neighbourhood gives no normal lose their depth.
cv::Mat normalsOf(cv::Mat& depth, const Eigen::Matrix3d& K);

// The workspace's map format: "WIDTH&HEIGHT&CHANNELS&", then float32 values channel after channel,
// each channel row-major. Throws std::runtime_error when the file cannot be written.
void writeMap(const std::filesystem::path& path, const cv::Mat& map);

// The depths of view ref from its sources (grey images CV_8U, each the size of its view): the pair's
// method chosen by its epipoles, then the agreement of the sources. Empty without sources or range.
cv::Mat depthsOf(const Scene& scene, size_t ref, const std::vector<cv::Mat>& greys,
                 const std::vector<size_t>& sources, const DepthOptions& options);

// Writes the depth and normal map of every view into the workspace's stereo folders, one reference
// image at a time (the undistorted images are read from workspace/images). before(i) runs before view
// i and may throw to stop the work. Returns the number of depths kept over all maps. Throws
// std::runtime_error when an image cannot be read or a map cannot be written.
size_t writeDepthMaps(const Scene& scene, const std::filesystem::path& workspace, const DepthOptions& options,
                      const std::function<void(size_t)>& before);

}  // namespace kxcolmap::dense
