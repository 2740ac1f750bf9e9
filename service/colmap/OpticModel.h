#pragma once
// How an optic model code of the SfM settings maps onto the mapper's camera models and its bundle
// adjustment switches, which are global (all cameras) rather than per parameter.
//
// Principal point convention: the configuration's cx, cy and the sparse model's principal point are
// measured in pixels from the top-left corner of the image, so the top-left pixel spans [0, 1) and its
// centre is (0.5, 0.5); the client's default principal point is width x 0.5, height x 0.5, the image
// centre in that convention. The mapper measures the same way, so the conversion below adds no shift;
// it is kept in one place so that a frame measured from the pixel centre would change only here.
#include <string>
#include <vector>

#include "config/SfmCfg.h"

namespace kxcolmap {

struct OpticModel {
    std::string cameraModel;  // the mapper's camera model name
    bool refineFocal = false;
    bool refinePrincipalPoint = false;
    bool refineExtraParams = false;
    std::vector<std::string> refined;  // the refined parameters, for the task's log
    std::string note;                  // what the closest model cannot honour, empty when nothing
};

// The closest camera model and switches for an optic model code ("F1" ... "F2C2D5"; an absent code is
// "F1D2", an unknown one throws std::runtime_error "unknown optic model: CODE"). With fixedOptics
// nothing is refined and the configured camera is kept exactly. hasDistortion tells whether the
// configured camera has non-zero distortion coefficients, which a model without refined distortion
// must then still carry.
OpticModel opticModelFor(const std::string& code, bool fixedOptics, bool hasDistortion);

bool hasDistortion(const SfmCfg::Camera& camera);

// The mapper's parameter list for the configured camera in the given model, comma separated. Throws
// std::runtime_error for a model this table never chooses.
std::string cameraParams(const SfmCfg::Camera& camera, const std::string& cameraModel);

// The configured camera back from a model's parameter list (fx, fy, cx, cy and k1, k2, p1, p2, k3,
// zero where the model has none). Throws std::runtime_error when the count does not fit the model.
SfmCfg::Camera cameraFromParams(const std::string& cameraModel, const std::vector<double>& params);

// Principal point between the configuration's frame and the mapper's (see the convention above).
inline double toMapperPixel(double configured) {
    return configured;
}
inline double fromMapperPixel(double mapper) {
    return mapper;
}

}  // namespace kxcolmap
