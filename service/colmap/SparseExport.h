#pragma once
// A sparse model written back as the mapper's text export, the inverse of readTextModel: what the dense
// programs read as the scene's cameras, poses and tracks.
#include <filesystem>
#include <string>
#include <vector>

#include "model/KsmModel.h"

namespace kxcolmap {

// The mapper's camera model that carries the camera exactly: PINHOLE without distortion, OPENCV when
// k3 is 0, FULL_OPENCV (k4 to k6 at 0) otherwise. The extras are k1, k2, p1, p2, k3.
std::string cameraModelOf(const kxsfm::RealCamera& camera);

// Throws std::runtime_error naming capture i when its camera or pose is not in the model.
void checkCapture(const ksm::Model<1u>& model, size_t i);

// Writes cameras.txt, images.txt and points3D.txt into dir (which must exist): camera i gets id i + 1,
// capture i is image i + 1 named names[i], point k has id k + 1 with the track of every measurement of
// it. Throws std::runtime_error on an index the model lacks, a name count that differs from the
// captures', or a file that cannot be written.
void writeTextModel(const ksm::Model<1u>& model, const std::vector<std::string>& names,
                    const std::filesystem::path& dir);

}  // namespace kxcolmap
