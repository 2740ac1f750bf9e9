#include "remote/TaskStageText.h"

#include <algorithm>
#include <cmath>

namespace remote {
namespace {
struct StageText {
    const char* label;
    const char* log;
};
// Indexed by the stage value. "Transfering" is the wording users know from the status line.
constexpr StageText kStages[] = {
    {"Server: pending", "Pending for an idle worker."},
    {"Worker: fetching files", "Transfering input files to the allocated worker."},
    {"Worker: running", "Running the requested task on the worker."},
    {"Worker: finished computing", "Worker has finished the task and will upload results to server."},
    {"Worker: uploading results", "Worker is uploading results to server."},
    {"Server: finished", "Results are ready to be downloaded from server."},
    {"Failed", "Task failed!"},
};
}  // namespace

bool isKnownStage(user_proto::TaskStage stage) {
    return static_cast<size_t>(stage) < std::size(kStages);
}

QString stageLabel(user_proto::TaskStage stage) {
    return isKnownStage(stage) ? QString::fromLatin1(kStages[static_cast<size_t>(stage)].label) : QString();
}

QString stageLog(user_proto::TaskStage stage) {
    return isKnownStage(stage) ? QString::fromLatin1(kStages[static_cast<size_t>(stage)].log) : QString();
}

int32_t stagePercent(float ratio) {
    const float clamped = std::isfinite(ratio) ? std::clamp(ratio, 0.0f, 1.0f) : 0.0f;
    return static_cast<int32_t>(std::roundf(100.0f * clamped));
}

}  // namespace remote
