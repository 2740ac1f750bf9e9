#include "service/slurm/SlurmRunner.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "service/LaunchCheck.h"
#include "service/Limits.h"
#include "service/Log.h"
#include "service/TaskFiles.h"

namespace fs = std::filesystem;
using user_proto::TaskStage;

namespace kxservice::slurm {

namespace {

// A cancelled job normally leaves the queue within a poll or two; the service's stop must not wait
// longer than its own few seconds.
constexpr std::chrono::seconds kCancelWait{3};

std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

// The task's limit, as the colmap engine computes it, in whole minutes.
unsigned jobMinutes(const RunnerTask& task, unsigned taskTimeout) {
    uint64_t seconds = taskTimeout;
    if (seconds == 0) {
        const bool sfm = task.kind() == TaskKind::kSfm;
        std::vector<FileKey> photographs;
        if (sfm) {
            for (const SfmCfg::Image& img : std::get<SfmJob>(*task.job).cfg.images) {
                photographs.push_back(img.key);
            }
        } else {
            photographs = std::get<MvsJob>(*task.job).images;
        }
        seconds =
            limits::taskSeconds(limits::kTaskBaseSeconds,
                                sfm ? limits::kSfmSecondsPerPhotograph : limits::kMvsSecondsPerPhotograph,
                                countDistinct(std::move(photographs)));
    }
    return unsigned((seconds + 59) / 60);
}

std::string lastLineOf(const fs::path& file) {
    std::ifstream in(file);
    std::string line, last;
    while (std::getline(in, line)) {
        if (!line.empty()) {
            last = line;
        }
    }
    return last;
}

}  // namespace

SlurmRunner::SlurmRunner(Settings settings, fs::path scratchDir)
    : mSettings(std::move(settings)), mCommands(mSettings.binDir, std::move(scratchDir)) {
    mPoller = std::thread([this] { pollLoop(); });
}

SlurmRunner::~SlurmRunner() {
    {
        const std::lock_guard<std::mutex> lock(mMutex);
        mStopping = true;
    }
    mWake.notify_all();
    mPoller.join();
}

std::optional<std::string> SlurmRunner::launchRefusal() const {
    if (mCommands.find("sbatch").empty()) {
        return "the cluster cannot take tasks: sbatch is not found in " + mCommands.where();
    }
    return std::nullopt;
}

std::vector<ResultFile> SlurmRunner::run(const RunnerTask& task) {
    const unsigned minutes = jobMinutes(task, mSettings.engineOptions.taskTimeout);
    taskfiles::Description d;
    d.engine = mSettings.engine;
    d.options = mSettings.engineOptions;
    d.kind = task.kind();
    if (d.kind == TaskKind::kSfm) {
        d.main = std::get<SfmJob>(*task.job).configKey;
    } else {
        d.main = std::get<MvsJob>(*task.job).ksmKey;
        d.images = std::get<MvsJob>(*task.job).images;
    }
    d.inputs = task.inputs;
    taskfiles::writeDescription(task.dir, d);
    taskfiles::writeAtomically(task.dir / "job.sh",
                               "#!/bin/sh\n# task " + task.name() + " of kestrix-service\nexec " +
                                   shellQuoted(mSettings.worker.string()) + " --run-task " +
                                   shellQuoted(task.dir.string()) + "\n");
    const std::string id = submit(task, minutes);
    {
        const std::lock_guard<std::mutex> lock(mMutex);
        mJobs[id] = View{};
    }
    logLine("task " + task.name() + " is job " + id + "; its log is " + (task.dir / "task.log").string());
    appendTaskLog(task.dir,
                  "submitted as job " + id + " with a time limit of " + std::to_string(minutes) + " minutes");
    task.status(TaskStage::kPending, 0);
    try {
        std::vector<ResultFile> results = follow(task, id, minutes);
        const std::lock_guard<std::mutex> lock(mMutex);
        mJobs.erase(id);
        return results;
    } catch (...) {
        const std::lock_guard<std::mutex> lock(mMutex);
        mJobs.erase(id);
        throw;
    }
}

std::string SlurmRunner::submit(const RunnerTask& task, unsigned minutes) const {
    std::vector<std::string> args{
        "--parsable", "--job-name=kestrix-" + task.name(), "--time=" + std::to_string(minutes),
        "--output=" + (task.dir / "job.out").string(), "--chdir=" + task.dir.string()};
    if (!mSettings.partition.empty()) {
        args.push_back("--partition=" + mSettings.partition);
    }
    args.insert(args.end(), mSettings.options.begin(), mSettings.options.end());
    if (task.kind() == TaskKind::kMvs) {
        args.insert(args.end(), mSettings.mvsOptions.begin(), mSettings.mvsOptions.end());
    }
    args.push_back((task.dir / "job.sh").string());
    const CommandResult r = mCommands.run("sbatch", args);
    // "ID" or "ID;CLUSTER"
    const std::string id = r.out.substr(0, r.out.find_first_of(";\n"));
    if (!r.ok || id.empty() || id.find_first_not_of("0123456789_") != std::string::npos) {
        throw std::runtime_error("the job could not be submitted: " +
                                 (r.ok ? "sbatch answered \"" + r.out + "\"" : r.describe("sbatch")));
    }
    return id;
}

std::vector<ResultFile> SlurmRunner::follow(const RunnerTask& task, const std::string& id, unsigned minutes) {
    uint64_t seen = 0;
    std::string lastWait;
    bool ran = false;
    for (;;) {
        View view;
        {
            std::unique_lock<std::mutex> lock(mMutex);
            mPolled.wait_for(lock, std::chrono::milliseconds(100),
                             [&] { return mJobs[id].nbPolls != seen || task.cancel->load(); });
            view = mJobs[id];
        }
        if (task.cancel->load()) {
            cancelJob(id);
            throw std::runtime_error("cancelled");
        }
        if (view.nbPolls == seen) {
            continue;
        }
        seen = view.nbPolls;
        Phase phase = view.listed ? phaseOf(view.state) : Phase::kEnded;
        JobRecord record;
        if (phase == Phase::kEnded) {
            // The queue may not list a job it has only just taken: ask for it by its id.
            record = recordOf(id);
            if (!record.state.empty() && phaseOf(record.state) != Phase::kEnded) {
                phase = phaseOf(record.state);
                view.reason = record.reason;
            }
        }
        if (phase == Phase::kWaiting) {
            if (view.reason != lastWait) {
                appendTaskLog(task.dir, "job " + id + " waits in the queue: " + view.reason);
                lastWait = view.reason;
            }
            task.status(TaskStage::kPending, 0);
            continue;
        }
        if (phase == Phase::kActive) {
            if (!ran) {
                appendTaskLog(task.dir, "job " + id + " runs");
                ran = true;
            }
            task.status(TaskStage::kRunning, taskfiles::readProgress(task.dir));
            continue;
        }
        return outcome(task, id, record, minutes);
    }
}

std::vector<ResultFile> SlurmRunner::outcome(const RunnerTask& task, const std::string& id,
                                             const JobRecord& record, unsigned minutes) const {
    std::optional<taskfiles::Exit> exit = taskfiles::readExit(task.dir);
    // A shared filesystem may show another node's new file a little later.
    for (int n = 0; !exit && record.state == "COMPLETED" && n < 25; ++n) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        exit = taskfiles::readExit(task.dir);
    }
    if (exit && exit->ok) {
        return exit->results;
    }
    if (exit) {
        throw std::runtime_error(exit->failure);
    }
    std::string why = record.state.empty()
                          ? "job " + id + " left the queue and the scheduler keeps no record of how it ended"
                          : endReason(record, minutes);
    const std::string output = lastLineOf(task.dir / "job.out");
    if (!output.empty()) {
        why += "; its output ends: " + output;
    }
    throw std::runtime_error(why);
}

JobRecord SlurmRunner::recordOf(const std::string& id) const {
    const CommandResult shown = mCommands.run("scontrol", {"show", "job", "-o", id});
    if (shown.ok) {
        const JobRecord record = recordFromScontrol(shown.out);
        if (!record.state.empty()) {
            return record;
        }
    }
    // Where the site keeps accounting, it remembers the job after the controller forgot it.
    const CommandResult accounted =
        mCommands.run("sacct", {"-n", "-P", "-X", "-j", id, "-o", "State,ExitCode,Reason"});
    return accounted.ok ? recordFromSacct(accounted.out) : JobRecord{};
}

void SlurmRunner::cancelJob(const std::string& id) {
    const auto deadline = std::chrono::steady_clock::now() + kCancelWait;
    const CommandResult r = mCommands.run("scancel", {id}, kCancelWait);
    if (!r.ok) {
        logLine("job " + id + ": " + r.describe("scancel"));
        return;
    }
    // Until the queue no longer holds it running, so that a cancelled task leaves nothing behind.
    std::unique_lock<std::mutex> lock(mMutex);
    const uint64_t polls = mJobs[id].nbPolls;
    mPolled.wait_until(lock, deadline, [&] {
        const View& v = mJobs[id];
        return v.nbPolls > polls && (!v.listed || phaseOf(v.state) == Phase::kEnded);
    });
}

void SlurmRunner::pollLoop() {
    std::unique_lock<std::mutex> lock(mMutex);
    while (!mStopping) {
        mWake.wait_for(lock, mSettings.poll, [&] { return mStopping; });
        if (mStopping || mJobs.empty()) {
            continue;
        }
        std::vector<std::string> ids;
        for (const auto& [id, view] : mJobs) {
            ids.push_back(id);
        }
        lock.unlock();
        // The service's own jobs in every state: one call whatever the number in flight.
        const CommandResult r = mCommands.run("squeue", {"-h", "--me", "-t", "all", "-o", "%i|%T|%r"});
        lock.lock();
        if (!r.ok) {
            if (!mPollFailing) {
                logLine("cannot ask the cluster's queue: " + r.describe("squeue"));
            }
            mPollFailing = true;
            continue;
        }
        mPollFailing = false;
        std::unordered_map<std::string, std::pair<std::string, std::string>> listed;
        std::istringstream lines(r.out);
        std::string line;
        while (std::getline(lines, line)) {
            std::istringstream fields(line);
            std::string id, state, reason;
            std::getline(fields, id, '|');
            std::getline(fields, state, '|');
            std::getline(fields, reason);
            listed[id] = {state, reason};
        }
        for (const std::string& id : ids) {
            const auto it = mJobs.find(id);
            if (it == mJobs.end()) {
                continue;
            }
            const auto found = listed.find(id);
            it->second.listed = found != listed.end();
            if (it->second.listed) {
                std::tie(it->second.state, it->second.reason) = found->second;
            }
            ++it->second.nbPolls;
        }
        mPolled.notify_all();
    }
}

}  // namespace kxservice::slurm
