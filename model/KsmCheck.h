#pragma once
// Whether a sparse model's parts refer to each other correctly: every capture's camera, image size and
// pose exist, every measured point exists, and each point has its colour. Whoever reads a model from
// outside (the service at a launch, the viewer) checks it here before following any index.
#include <string>

#include "model/KsmModel.h"

namespace ksm {

// Empty when the model is consistent; otherwise the first fault found, such as
// "the sparse model has fewer colours than points" or "capture 1: pose index 7 out of range".
std::string inconsistency(const Model<1u>& model);

}  // namespace ksm
