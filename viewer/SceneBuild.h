#pragma once
// Turns sparse models and PLY clouds into what the viewer draws, refusing inconsistent input.
#include <string>

#include "model/KsmModel.h"
#include "viewer/SceneTypes.h"

namespace viewer {

// Builds the scene of a sparse model; `depth` is the image-plane distance of the frustums.
// Throws std::runtime_error when the file held no readable model, and std::out_of_range or
// std::invalid_argument naming the capture when a camera, pose, colour or point index is out of range, a
// focal length is zero or not finite, or a rotation is zero or not finite. Rotations are normalised.
SceneModel buildScene(const KestrixSparseModel& model, float depth);

// Reads a PLY cloud (positions and colours of the element "vertex") into a scene without captures,
// moved so that the middle of its bounds is at the origin: floats keep the detail of clouds far from it.
// A cloud without colours is coloured by a ramp along z (along the longer of x and y where flat in z). Throws
// the PLY reader's std::runtime_error unchanged, and std::runtime_error when the cloud has no points.
SceneModel readPlyScene(const std::string& path);

}  // namespace viewer
