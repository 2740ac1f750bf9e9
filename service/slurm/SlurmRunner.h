#pragma once
// Each task as one batch job of a Slurm cluster. The service writes the task's description and job
// script into the task directory and submits it with sbatch; the job runs `kestrix-service --run-task
// TASK_DIR` on a node (service/TaskWorker.h). One thread asks squeue for every job in flight at each
// poll; a task's worker thread follows its own job from those answers: stage 0 while it waits (its
// reason in the task log), 2 while it runs (the worker's progress file), and at its end the worker's
// exit file, or else the scheduler's record (scontrol, then sacct) and the job's output say why it failed.
// A cancelled task's job is ended with scancel.
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "service/TaskRunner.h"
#include "service/slurm/JobState.h"
#include "service/slurm/SlurmCommands.h"

namespace kxservice::slurm {

struct Settings {
    std::filesystem::path binDir;  // empty: PATH
    std::string partition;         // empty: the cluster's default
    std::vector<std::string> options, mvsOptions;
    std::chrono::milliseconds poll{500};
    std::filesystem::path worker;  // this program, at a path every node sees
    std::string engine;            // made by the worker on its node
    EngineOptions engineOptions;
};

class SlurmRunner final : public TaskRunner {
public:
    // scratchDir holds the commands' output while they run.
    SlurmRunner(Settings settings, std::filesystem::path scratchDir);
    ~SlurmRunner() override;
    SlurmRunner(const SlurmRunner&) = delete;
    SlurmRunner& operator=(const SlurmRunner&) = delete;

    std::vector<ResultFile> run(const RunnerTask& task) override;
    std::optional<std::string> launchRefusal() const override;
    // Whether a node can densify is its worker's to say.
    std::optional<std::string> mvsRefusal() const override { return std::nullopt; }
    std::string name() const override { return "slurm"; }

private:
    // A job in flight as the last poll saw it.
    struct View {
        uint64_t nbPolls = 0;  // polls that answered since the job was submitted
        bool listed = false;
        std::string state, reason;
    };
    std::string submit(const RunnerTask& task, unsigned minutes) const;
    std::vector<ResultFile> follow(const RunnerTask& task, const std::string& id, unsigned minutes);
    // The end of a job that left the queue: the worker's results, or an exception with its reason or else
    // the scheduler's.
    std::vector<ResultFile> outcome(const RunnerTask& task, const std::string& id, const JobRecord& record,
                                    unsigned minutes) const;
    JobRecord recordOf(const std::string& id) const;
    void cancelJob(const std::string& id);
    void pollLoop();

    Settings mSettings;
    Commands mCommands;
    std::mutex mMutex;
    std::condition_variable mPolled;
    std::condition_variable mWake;
    std::unordered_map<std::string, View> mJobs;
    bool mStopping = false;
    bool mPollFailing = false;
    std::thread mPoller;
};

}  // namespace kxservice::slurm
