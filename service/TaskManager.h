#pragma once
// Tasks from launch to removal. Launched tasks wait in stage 0 until one of --max-tasks workers takes
// them (the sessions' queues in turns, see FairQueue), then run through the stages: 1 (inputs checked into
// the task directory), 2 (the engine, through the TaskRunner; a cluster's runner shows 0 again while its
// job waits), 3, 4 (result files hashed), 5 finished, or 6 failed with a reason. A task whose session ends
// before its results were asked for is cancelled and its directory removed.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <variant>
#include <vector>

#include "protocol/ProtoTypes.h"
#include "service/FairQueue.h"
#include "service/TaskRunner.h"

namespace kxservice {

class ContentStore;
class Faults;

using user_proto::TaskHandle;
using user_proto::TaskStage;

struct TaskStatus {
    TaskStage stage = TaskStage::kPending;
    float ratio = 0;
    std::string error;  // why it failed (stage 6)
};

// A result file ready to be handed out.
struct TaskResult {
    std::filesystem::path path;
    FileType type = FileType::kKsm;
    uint32_t hModel = 0;
    FileKey key;
    uint64_t size = 0;
};

// A task handle as the log and the task's directory name it: 16 hexadecimal digits.
std::string hex64(uint64_t v);

class TaskManager {
public:
    // Task directories live in tasksDir/<handle in hex> (RunnerTask::name() relies on it).
    TaskManager(TaskRunner& runner, ContentStore& store, Faults& faults, std::filesystem::path tasksDir,
                uint32_t nbWorkers);
    ~TaskManager();  // stop()

    // Queues a task whose inputs the caller has pinned in the store; they are unpinned when it ends.
    TaskHandle launch(std::variant<SfmJob, MvsJob> job, std::vector<FileKey> pinnedInputs, uint64_t session);

    std::optional<TaskStatus> status(TaskHandle task) const;
    // The results of a finished task of that kind; empty otherwise. Marks the task collected: it then
    // outlives its session.
    std::optional<std::vector<TaskResult>> collect(TaskHandle task, TaskKind kind);
    std::optional<TaskKind> kindOf(TaskHandle task) const;
    // Tasks of the session queued or running.
    size_t nbOfSession(uint64_t session) const;
    // Tasks of the session finished whose results it has not asked for: their directories cannot be
    // evicted for room, so a session may hold only so many (limits::kMaxSessionUncollected).
    size_t nbUncollectedOfSession(uint64_t session) const;

    // Cancels the session's tasks that were not collected.
    void sessionEnded(uint64_t session);
    // Removes finished task directories older than maxAge (and those of earlier runs).
    void removeOlderThan(std::chrono::seconds maxAge);
    // Cancels everything, ends subprocesses and joins the workers. Idempotent.
    void stop();

private:
    struct Task;
    void workerLoop();
    void run(Task& task);
    void finish(const std::shared_ptr<Task>& task);
    TaskHandle newHandle() const;
    void inactiveLocked(uint64_t session);
    void meterLoop();
    void removeLater(std::shared_ptr<Task> task);
    void removeDoomed();

    TaskRunner& mRunner;
    ContentStore& mStore;
    Faults& mFaults;
    std::filesystem::path mTasksDir;
    mutable std::mutex mMutex;
    std::condition_variable mWake;
    std::unordered_map<TaskHandle, std::shared_ptr<Task>> mTasks;
    FairQueue<std::shared_ptr<Task>> mQueue;
    std::unordered_map<uint64_t, size_t> mNbActive;       // per session: queued or running
    std::unordered_map<uint64_t, size_t> mNbUncollected;  // per session: finished, not collected
    std::vector<std::filesystem::path> mDoomed;           // directories the meter removes
    bool mStopping = false;
    std::vector<std::thread> mWorkers;
    std::condition_variable mMeterWake;
    // Counts running tasks' directories against the store's budget and removes the directories of
    // tasks that went, so that a session's end or the daily cleanup never walks a tree on its caller's
    // (a network) thread.
    std::thread mMeter;
};

}  // namespace kxservice
