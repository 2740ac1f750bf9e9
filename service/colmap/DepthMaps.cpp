// The depth maps of a whole workspace, one reference image at a time so that memory stays bounded.
#include <cmath>
#include <stdexcept>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include "service/colmap/DenseScene.h"
#include "vexkit/ImageReader.h"

namespace kxcolmap::dense {
namespace {

cv::Mat readGrey(const std::filesystem::path& path, const View& view) {
    const auto reader = vexkit::createImageReader();
    vexkit::Image8UC3 rgb;
    try {
        reader->setFile(path.c_str(), vexkit::ImageFileType::kJpeg);
        rgb = reader->decodeTo8UC3();
    } catch (const std::exception& e) {
        throw std::runtime_error("cannot read the undistorted image " + path.filename().string() + ": " +
                                 e.what());
    }
    if (int(rgb.width()) != view.width || int(rgb.height()) != view.height) {
        throw std::runtime_error("the undistorted image " + path.filename().string() +
                                 " is not the size of its camera");
    }
    const cv::Mat wrapped(int(rgb.height()), int(rgb.width()), CV_8UC3,
                          const_cast<void*>(static_cast<const void*>(rgb.data())));
    cv::Mat grey;
    cv::cvtColor(wrapped, grey, cv::COLOR_RGB2GRAY);
    return grey;
}

}  // namespace

cv::Mat depthsOf(const Scene& scene, size_t ref, const std::vector<cv::Mat>& greys,
                 const std::vector<size_t>& sources, const DepthOptions& options) {
    const auto range = depthRange(scene, ref);
    // A range that reaches the camera or infinity has no planes to sweep or disparities to bound.
    if (!range || sources.size() < 2 || !(range->first > 0) || !std::isfinite(1 / range->first) ||
        !std::isfinite(range->second) || !(range->second > range->first)) {
        return {};
    }
    const View& r = scene.views[ref];
    std::vector<cv::Mat> perSource(sources.size());
    // The pairs run in parallel; OpenCV runs the calls inside each one serially then.
    cv::parallel_for_(cv::Range(0, int(sources.size())), [&](const cv::Range& part) {
        for (int k = part.start; k < part.end; ++k) {
            const View& s = scene.views[sources[size_t(k)]];
            const cv::Mat& sg = greys[size_t(k) + 1];
            perSource[size_t(k)] = epipolesOutside(r, s)
                                       ? rectifiedDepths(r, greys[0], s, sg, *range, options)
                                       : sweptDepths(r, greys[0], s, sg, *range, options);
        }
    });
    return agreedDepths(perSource, options.agreement);
}

size_t writeDepthMaps(const Scene& scene, const std::filesystem::path& workspace, const DepthOptions& options,
                      const std::function<void(size_t)>& before) {
    const auto stereo = workspace / "stereo";
    std::filesystem::create_directories(stereo / "depth_maps");
    std::filesystem::create_directories(stereo / "normal_maps");
    size_t nbDepths = 0;
    for (size_t ref = 0; ref < scene.views.size(); ++ref) {
        before(ref);
        const View& view = scene.views[ref];
        const std::vector<size_t> sources = pickSources(scene, ref, options);
        std::vector<cv::Mat> greys;
        cv::Mat depth;
        if (sources.size() >= 2) {
            greys.push_back(readGrey(workspace / "images" / view.name, view));
            for (size_t s : sources) {
                greys.push_back(readGrey(workspace / "images" / scene.views[s].name, scene.views[s]));
            }
            depth = depthsOf(scene, ref, greys, sources, options);
        }
        if (depth.empty()) {
            depth = cv::Mat(view.height, view.width, CV_32F, cv::Scalar(0));
        }
        const cv::Mat normals = normalsOf(depth, view.K);
        nbDepths += size_t(cv::countNonZero(depth));
        writeMap(stereo / "depth_maps" / (view.name + ".geometric.bin"), depth);
        writeMap(stereo / "normal_maps" / (view.name + ".geometric.bin"), normals);
    }
    return nbDepths;
}

}  // namespace kxcolmap::dense
