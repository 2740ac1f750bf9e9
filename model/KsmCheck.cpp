#include "model/KsmCheck.h"

namespace ksm {

std::string inconsistency(const Model<1u>& model) {
    if (model.colors.size() < model.points.size()) {
        return "the sparse model has fewer colours than points";
    }
    const auto capture = [](size_t i, const char* what, uint32_t index) {
        return "capture " + std::to_string(i) + ": " + what + " index " + std::to_string(index) +
               " out of range";
    };
    for (size_t i = 0; i < model.captures.size(); ++i) {
        const Capture& c = model.captures[i];
        if (c.cameraIdx >= model.cameras.size() || c.cameraIdx >= model.cameraImageSizes.size()) {
            return capture(i, "camera", c.cameraIdx);
        }
        if (c.poseIdx >= model.poses.size()) {
            return capture(i, "pose", c.poseIdx);
        }
        for (const Measurement& m : c.measurements) {
            if (m.pointIdx >= model.points.size()) {
                return capture(i, "point", m.pointIdx);
            }
        }
    }
    return {};
}

}  // namespace ksm
