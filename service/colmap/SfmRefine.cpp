#include <cstdio>
#include <fstream>
#include <sstream>

#include "service/TaskContext.h"
#include "service/colmap/SfmSteps.h"

namespace kxcolmap {
namespace {

std::string readWhole(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return text.str();
}

}  // namespace

std::filesystem::path refineIntrinsics(Runner& runner, kxservice::TaskContext& context,
                                       const TaskLayout& layout, const SubModel& mapped,
                                       const OpticModel& refinement,
                                       const std::vector<ImageSource>& sources) {
    // The mapped model as text, its cameras rewritten with the same values in the refinement's model.
    std::filesystem::create_directories(layout.refineInput());
    runner.run(converterArgs(mapped.dir, layout.refineInput()), 0.85, 0.86, 0);
    const auto cameras = layout.refineInput() / "cameras.txt";
    writeText(cameras, rewriteCameras(readWhole(cameras), refinement.cameraModel));
    std::filesystem::create_directories(layout.refined());
    runner.run(adjusterArgs(layout, refinement), 0.86, 0.89, 0);
    std::filesystem::create_directories(layout.refinedText());
    runner.run(converterArgs(layout.refined(), layout.refinedText()), 0.89, 0.9, 0);

    const ksm::Model<1u> simple = readTextModel(layout.refineInput(), sources);
    const ksm::Model<1u> refined = readTextModel(layout.refinedText(), sources);
    const double simpleError = meanReprojectionError(simple), refinedError = meanReprojectionError(refined);
    const std::string reason = collapseReason(simple, simpleError, refined, refinedError);
    char line[160];
    std::snprintf(line, sizeof line, "refinement as %s: reprojection error %.3f px, before it %.3f px",
                  refinement.cameraModel.c_str(), refinedError, simpleError);
    context.log(line);
    for (size_t i = 0; i < refined.cameras.size(); ++i) {
        const kxsfm::RealCamera& c = refined.cameras[i];
        std::snprintf(line, sizeof line, "refined camera %zu: fx %.2f, fy %.2f, cx %.2f, cy %.2f px", i,
                      c.focal.x, c.focal.y, c.principal.x, c.principal.y);
        context.log(line);
    }
    if (!reason.empty()) {
        context.log("refined cameras not kept, the mapped ones stay: " + reason);
        return mapped.dir;
    }
    return layout.refined();
}

}  // namespace kxcolmap
