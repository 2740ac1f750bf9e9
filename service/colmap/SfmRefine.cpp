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

std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) {
        text += (text.empty() ? "" : ", ") + item;
    }
    return text;
}

}  // namespace

std::filesystem::path refineIntrinsics(Runner& runner, kxservice::TaskContext& context,
                                       const TaskLayout& layout, const std::filesystem::path& model,
                                       const OpticModel& stage, bool radial,
                                       const std::vector<ImageSource>& sources) {
    // The model as text, its cameras rewritten with the same values in the stage's model.
    const double lo = radial ? 0.84 : 0.87;
    std::filesystem::create_directories(layout.refineInput(radial));
    runner.run(converterArgs(model, layout.refineInput(radial)), lo, lo + 0.01, 0);
    const auto cameras = layout.refineInput(radial) / "cameras.txt";
    writeText(cameras, rewriteCameras(readWhole(cameras), stage.cameraModel));
    std::filesystem::create_directories(layout.refined(radial));
    runner.run(adjusterArgs(layout, stage, radial), lo + 0.01, lo + 0.025, 0);
    std::filesystem::create_directories(layout.refinedText(radial));
    runner.run(converterArgs(layout.refined(radial), layout.refinedText(radial)), lo + 0.025, lo + 0.03, 0);

    const ksm::Model<1u> simple = readTextModel(layout.refineInput(radial), sources);
    const ksm::Model<1u> refined = readTextModel(layout.refinedText(radial), sources);
    const double simpleError = meanReprojectionError(simple), refinedError = meanReprojectionError(refined);
    char line[160];
    std::snprintf(line, sizeof line, "refinement as %s of %s: reprojection error %.3f px, before it %.3f px",
                  stage.cameraModel.c_str(), joined(stage.refined).c_str(), refinedError, simpleError);
    context.log(line);
    for (size_t i = 0; i < refined.cameras.size(); ++i) {
        const kxsfm::RealCamera& c = refined.cameras[i];
        std::snprintf(line, sizeof line,
                      "refined camera %zu: fx %.2f, fy %.2f, cx %.2f, cy %.2f px, k1 %.4f, k2 %.4f", i,
                      c.focal.x, c.focal.y, c.principal.x, c.principal.y, c.extra[0], c.extra[1]);
        context.log(line);
    }
    // The radial terms move the focal length with them: only a worse fit refuses them.
    const std::string reason = radial ? errorGrowth(simpleError, refinedError)
                                      : collapseReason(simple, simpleError, refined, refinedError);
    if (!reason.empty()) {
        context.log("refined cameras not kept, the previous ones stay: " + reason);
        return model;
    }
    return layout.refined(radial);
}

}  // namespace kxcolmap
