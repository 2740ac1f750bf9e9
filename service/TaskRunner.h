#pragma once
// Where a task's computation runs. The task manager keeps sessions, the queue, stages, caps and the
// store's accounting, and hands each task it takes to the runner on one of its --max-tasks workers; the
// runner only runs, follows and cancels that one task. LocalRunner runs the engine in this process,
// SlurmRunner makes each task a batch job of a cluster.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "protocol/ProtoTypes.h"
#include "service/Engine.h"

namespace kxservice {

enum class TaskKind { kSfm, kMvs };

// One task as the runner sees it. Its directory exists; the inputs are pinned while the runner holds it.
struct RunnerTask {
    const std::variant<SfmJob, MvsJob>* job = nullptr;
    std::filesystem::path dir;
    std::unordered_map<FileKey, std::filesystem::path> inputs;
    const std::atomic<bool>* cancel = nullptr;  // set when the task must stop
    // The stage the task shows (pending or running) and the ratio of it.
    std::function<void(user_proto::TaskStage, float)> status;
    // Room in the store's budget for bytes an engine keeps after the task (see TaskContext).
    std::function<bool(int64_t)> claim;

    // The task handle in hex, as the service's log names it.
    std::string name() const { return dir.filename().string(); }
    TaskKind kind() const { return std::holds_alternative<SfmJob>(*job) ? TaskKind::kSfm : TaskKind::kMvs; }
};

class TaskRunner {
public:
    virtual ~TaskRunner() = default;

    // Runs the task to its end on the calling thread: the engine's result files inside task.dir, or an
    // exception whose what() is the reason the task failed. Returns or throws soon after *task.cancel
    // is set, having ended whatever ran for it.
    virtual std::vector<ResultFile> run(const RunnerTask& task) = 0;

    // Why launches are refused now (nothing can run them); empty when they are taken.
    virtual std::optional<std::string> launchRefusal() const { return std::nullopt; }
    // Why MVS launches are refused; empty when they are taken (the runner's nodes may still fail them).
    virtual std::optional<std::string> mvsRefusal() const = 0;
    // "local", "slurm": for the service's log.
    virtual std::string name() const = 0;
};

}  // namespace kxservice
