#pragma once
// Measures how well a dense point cloud lies on the surface that the sparse points of the same scene
// sample, and prepares sparse models with points held back so that the dense cloud can be judged on
// points it was not made from.
#include <cstddef>
#include <vector>

#include <Eigen/Core>

#include "model/KsmModel.h"

namespace kxcolmap {

// Lengths are in spacings, the typical gap between neighbouring sparse points, so that figures of
// scenes of any scale compare. Points with a non-finite coordinate are left out everywhere, and
// repeated sparse points count once.
struct CloudCheck {
    size_t nbDense = 0, nbSparse = 0;  // points used: finite ones; distinct ones for the sparse points
    double spacing = 0;                // median distance from a sparse point to its nearest other one
    // Distance from each dense point to the least-squares plane of its 10 nearest sparse points (all of
    // them when there are fewer), median and 80th percentile. Infinity where no plane is defined: fewer
    // than 3 sparse points, collinear neighbours, or no dense point at all.
    double medianPlaneDistance = 0;
    double p80PlaneDistance = 0;
    double coverage = 0;   // fraction of the probes with a dense point within 1.5 spacings
    double insideBox = 0;  // fraction of dense points inside the box of the sparse points (1st to 99th
                           // percentile per axis) grown by 20 % of its size on each side
};

// sparse: the points that sample the surface; probes: the points whose coverage is measured. Runs on
// every core; about a second for a million dense points on two.
CloudCheck checkCloud(const std::vector<Eigen::Vector3d>& sparse, const std::vector<Eigen::Vector3d>& dense,
                      const std::vector<Eigen::Vector3d>& probes);

// The model without its points k-1, 2k-1, 3k-1, ... (k = every), their colours and measurements, the
// other measurements renumbered; a measurement of a point the model does not have is dropped too.
// withheld holds the removed points in their order. Throws std::invalid_argument when every < 2.
struct WithheldModel {
    ksm::Model<1u> model;
    std::vector<kxsfm::Vec3<float>> withheld;
};
WithheldModel withholdPoints(const ksm::Model<1u>& model, size_t every);

}  // namespace kxcolmap
