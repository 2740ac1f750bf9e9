#pragma once
// Intrinsics refined in stages. The mapper builds the model with a simple camera (one focal length and
// at most the radial terms the optic model code allows), which holds on a first image pair where two
// focal lengths and tangential terms drift; a final bundle adjustment then frees the parameters the
// code asks for. The refined cameras are kept only when they have not collapsed.
#include <optional>
#include <string>

#include "model/KsmModel.h"
#include "service/colmap/OpticModel.h"

namespace kxcolmap {

struct StagedOptics {
    OpticModel mapping;                 // what the mapper refines, in the camera model it starts with
    std::optional<OpticModel> refined;  // the final bundle adjustment, when it frees more
};

// The stages of an optic model code; the arguments are those of opticModelFor.
StagedOptics stagedOptics(const std::string& code, bool fixedOptics, bool hasDistortion);

// cameras.txt with each camera of the mapping's model rewritten, same values, in the refinement's
// model (SIMPLE_PINHOLE to PINHOLE, RADIAL to OPENCV with zero tangential terms). Throws
// std::runtime_error on a line it cannot read.
std::string rewriteCameras(const std::string& camerasText, const std::string& cameraModel);

// Mean over the points of their mean reprojection error in pixels, computed from the model itself (the
// errors that colmap stores are not updated by its bundle adjuster); 0 without observations.
double meanReprojectionError(const ksm::Model<1u>& model);

// Why the refined model must not replace the simple one (same cameras in the same order): a focal
// length moved by more than 5 %, fx / fy left 1 +- 0.03, a principal point moved by more than 10 % of
// the image's size, or the reprojection error grew. Empty when the refined model is kept.
std::string collapseReason(const ksm::Model<1u>& simple, double simpleError, const ksm::Model<1u>& refined,
                           double refinedError);

}  // namespace kxcolmap
