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

// Reads a PLY cloud (positions and colours of the element "vertex") into a scene without captures.
// Throws the PLY reader's std::runtime_error unchanged.
SceneModel readPlyScene(const std::string& path);

}  // namespace viewer
