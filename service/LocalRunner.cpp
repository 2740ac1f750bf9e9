#include "service/LocalRunner.h"

#include "service/Log.h"

namespace kxservice {

std::vector<ResultFile> runEngine(Engine& engine, const std::variant<SfmJob, MvsJob>& job,
                                  TaskContext& context) {
    const bool sfm = std::holds_alternative<SfmJob>(job);
    context.log(std::string("started ") + (sfm ? "SfM" : "MVS"));
    std::vector<ResultFile> files =
        sfm ? engine.runSfm(std::get<SfmJob>(job), context) : engine.runMvs(std::get<MvsJob>(job), context);
    if (context.cancelled()) {
        throw std::runtime_error("cancelled");
    }
    return files;
}

std::vector<ResultFile> LocalRunner::run(const RunnerTask& task) {
    TaskContext context(
        task.dir, task.inputs, [&](float r) { task.status(user_proto::TaskStage::kRunning, r); },
        *task.cancel);
    context.setStorageClaim(task.claim);
    logLine("task " + task.name() + " running; its log is " + context.logFile().string());
    task.status(user_proto::TaskStage::kRunning, 0);
    return runEngine(*mEngine, *task.job, context);
}

std::optional<std::string> LocalRunner::mvsRefusal() const {
    if (mEngine->canDensify()) {
        return std::nullopt;
    }
    return mEngine->refusalOfMvs();
}

}  // namespace kxservice
