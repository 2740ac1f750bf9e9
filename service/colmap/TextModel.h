#pragma once
// The mapper's text export (cameras.txt, images.txt, points3D.txt in one folder) turned into the sparse
// model record that the service delivers.
#include <filesystem>
#include <string>
#include <vector>

#include "model/KsmModel.h"
#include "vexkit/Md5.h"

namespace kxcolmap {

// One image as the task gave it to the mapper: the file name in the mapper's image folder, and the
// path and digest that the capture must carry (the configuration's own name for it).
struct ImageSource {
    std::string mapperName;
    std::string path;
    vexkit::Md5Digest digest{};
};

struct TextModelSummary {
    size_t nbRegistered = 0;
    size_t nbPoints = 0;
    size_t nbMeasurements = 0;
    double meanReprojectionError = 0;       // mean of the points' errors, pixels; 0 without points
    std::vector<std::string> unregistered;  // paths of the sources without a capture, in source order
};

// Captures follow the order of the sources, cameras and points the ascending order of the export's ids
// (which need not be contiguous). A point observed by no image is kept; a 2D feature without a point
// gives no measurement. Each measurement carries the feature's pixel position in the configuration's
// frame. Throws std::runtime_error naming the file and line on malformed text, an image name that is
// not among the sources, or an id that is not defined.
ksm::Model<1u> readTextModel(const std::filesystem::path& dir, const std::vector<ImageSource>& sources,
                             TextModelSummary* summary = nullptr);

// The digest words of a 32-character hexadecimal key; throws std::runtime_error on another text.
vexkit::Md5Digest digestFromHex(const std::string& hex);

}  // namespace kxcolmap
