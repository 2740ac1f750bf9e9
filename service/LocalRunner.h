#pragma once
// Runs each task's engine in this process, on the task manager's worker thread.
#include <memory>

#include "service/TaskRunner.h"

namespace kxservice {

class LocalRunner final : public TaskRunner {
public:
    explicit LocalRunner(std::unique_ptr<Engine> engine) : mEngine(std::move(engine)) {}

    std::vector<ResultFile> run(const RunnerTask& task) override;
    std::optional<std::string> mvsRefusal() const override;
    std::string name() const override { return "local"; }

private:
    std::unique_ptr<Engine> mEngine;
};

// The engine's results for the job, with the task's progress reported through context: what both the
// service's own workers and a cluster node's worker run.
std::vector<ResultFile> runEngine(Engine& engine, const std::variant<SfmJob, MvsJob>& job,
                                  TaskContext& context);

}  // namespace kxservice
