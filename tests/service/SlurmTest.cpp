// The service binary with its cluster runner: against stand-in scheduler commands, every way a job can end
// without the worker's verdict reaches the client as stage 6 with its reason, and a submission that fails
// or cannot happen is never a stuck task; against the one-node cluster, a task cancelled while its job
// waits or runs leaves nothing in the queue or on the node.
#include <signal.h>

#include "service/TaskManager.h"
#include "tests/service/ServiceClient.h"
#include "tests/support/SlurmCluster.h"
#include "tests/support/TestSupport.h"

namespace kxtest {
namespace {

namespace fs = std::filesystem;

// Follows an SfM task of one photograph named name.
Followed follow(Client& c, const std::string& name, TaskStage stopAt = TaskStage::kFinished) {
    return c.follow(c.upload(configText({c.upload("photograph " + name)}, 0, "/" + name)), stopAt);
}

class Slurm : public ::testing::Test {
protected:
    void start(const std::string& options) {
        // A log of its own for each start: the next one must not read the last one's start line.
        mLog = mDir / ("log" + std::to_string(++mNbStarts));
        mService = std::make_unique<ServiceProcess>(KX_SERVICE_BIN, mDir / "data",
                                                    "--runner slurm " + options, mLog);
        ASSERT_NE(mService->port, 0) << readFile(mLog);
    }
    void TearDown() override {
        if (mService) {
            EXPECT_EQ(mService->stop(), 0) << readFile(mLog);
        }
    }
    std::unique_ptr<Client> session() { return std::make_unique<Client>(mService->port, mService->ca); }
    fs::path taskDir(TaskHandle task) const { return mDir / "data" / "tasks" / kxservice::hex64(task); }
    // A shell script in bin.
    void script(const std::string& name, const std::string& body) const {
        fs::create_directories(mDir / "bin");
        writeFile(mDir / "bin" / name, "#!/bin/sh\nD=" + mDir.path().string() + "\n" + body);
        fs::permissions(mDir / "bin" / name, fs::perms::owner_all);
    }

    TempDir mDir;
    std::unique_ptr<ServiceProcess> mService;
    fs::path mLog;
    int mNbStarts = 0;
};

TEST_F(Slurm, JobsThatEndWithoutTheWorkersVerdictFailWithTheSchedulersReason) {
    // Job ids count from 100; squeue lists the last job with the state in D/queue, scontrol and sacct
    // answer from D/record and D/accounted when they exist; the job's output file gets one line.
    script(
        "sbatch",
        "echo \"$@\" >> $D/sbatch.args\n"
        "[ -f $D/sbatch.fails ] && { echo 'sbatch: error: invalid partition specified: gpu' >&2; exit 1; }\n"
        "for a; do case $a in --output=*) echo 'job output line' > \"${a#--output=}\";; esac; done\n"
        "n=$(( $(cat $D/id 2>/dev/null || echo 99) + 1 )); echo $n > $D/id; echo \"$n;kxtest\"\n");
    script("squeue", "[ -s $D/queue ] && echo \"$(cat $D/id)|$(cat $D/queue)\"; exit 0\n");
    script("scontrol",
           "[ -f $D/record ] || { echo 'Invalid job id specified' >&2; exit 1; }\n"
           "echo \"JobId=$(cat $D/id) JobName=x $(cat $D/record)\"\n");
    script("sacct",
           "[ -f $D/accounted ] || { echo 'accounting storage is disabled' >&2; exit 1; }\n"
           "cat $D/accounted\n");
    script("scancel", "echo \"$@\" >> $D/scancel.args; : > $D/queue\n");
    start("--slurm-bin " + (mDir / "bin").string() +
          " --slurm-poll 50 --slurm-partition debug --slurm-option --exclusive --slurm-mvs-option "
          "--gres=gpu:1");
    const struct {
        const char* name;
        const char* queue;
        const char* record;
        const char* accounted;
        std::string error;
    } rows[] = {
        {"failed", "FAILED|NonZeroExitCode", "JobState=FAILED Reason=NonZeroExitCode ExitCode=3:0", nullptr,
         "the job failed, exit code 3:0 (NonZeroExitCode)"},
        {"timeout", "", "JobState=TIMEOUT Reason=TimeLimit ExitCode=0:15", nullptr,
         "the job ran out of its time limit of 2 minutes, exit code 0:15 (TimeLimit)"},
        {"cancelled", "", "JobState=CANCELLED Reason=None ExitCode=0:15", nullptr,
         "the job was cancelled outside the service, exit code 0:15"},
        {"accounted", "", nullptr, "OUT_OF_MEMORY by 0|0:125|OutOfMemory\n",
         "the job ran out of memory, exit code 0:125 (OutOfMemory)"},
        {"vanished", "", nullptr, nullptr,
         "left the queue and the scheduler keeps no record of how it ended"},
    };
    auto c = session();
    for (const auto& row : rows) {
        writeFile(mDir / "queue", row.queue);
        fs::remove(mDir / "record");
        fs::remove(mDir / "accounted");
        if (row.record != nullptr) {
            writeFile(mDir / "record", row.record);
        }
        if (row.accounted != nullptr) {
            writeFile(mDir / "accounted", row.accounted);
        }
        const Followed e = follow(*c, row.name);
        EXPECT_EQ(e.stage, TaskStage::kFailed) << row.name;
        EXPECT_NE(e.error.find(row.error + "; its output ends: job output line"), std::string::npos)
            << row.name << ": " << e.error;
    }
    // One photograph: 90 s, two whole minutes; the MVS option stays off an SfM job.
    const std::string args = readFile(mDir / "sbatch.args");
    EXPECT_NE(args.find("--parsable --job-name=kestrix-"), std::string::npos) << args;
    EXPECT_NE(args.find(" --time=2 "), std::string::npos) << args;
    EXPECT_NE(args.find("--partition=debug --exclusive " + (mDir / "data").string()), std::string::npos)
        << args;
    EXPECT_EQ(args.find("gres"), std::string::npos) << args;

    // Waiting: stage 0 with the queue's reason in the task log, and scancel when the session ends.
    writeFile(mDir / "queue", "PENDING|Priority");
    const Followed waiting = follow(*c, "waiting", TaskStage::kPending);
    EXPECT_TRUE(fileSays(taskDir(waiting.task) / "task.log", "waits in the queue: Priority"));
    EXPECT_EQ(waiting.stage, TaskStage::kPending);
    c.reset();
    EXPECT_TRUE(fileSays(mDir / "scancel.args", readFile(mDir / "id")));

    // A failing sbatch fails the task with its words; a missing one refuses the launch.
    c = session();
    writeFile(mDir / "sbatch.fails", "");
    const Followed refused = follow(*c, "refused");
    EXPECT_EQ(refused.stage, TaskStage::kFailed);
    EXPECT_EQ(refused.error,
              "the job could not be submitted: sbatch exited with status 1: sbatch: error: invalid partition "
              "specified: gpu");
    fs::remove(mDir / "bin" / "sbatch");
    const Followed missing = follow(*c, "missing");
    EXPECT_EQ(missing.task, 0u);
    EXPECT_EQ(missing.error, "the cluster cannot take tasks: sbatch is not found in the directory " +
                                 (mDir / "bin").string());

    // The job runs on this machine before sbatch answers, but its inputs are not where the service put
    // them: the worker's own reason ends the task.
    script("sbatch",
           "for a; do job=$a; done\ndir=$(dirname \"$job\"); echo \"$dir\" > $D/taskdir\n"
           "sed -i 's| /| /nowhere/|' \"$dir/task.in\"\n"
           "sh \"$job\" >/dev/null 2>&1 </dev/null\necho 200\n");
    script("squeue", "[ -f \"$(cat $D/taskdir)/exit\" ] || echo '200|RUNNING|None'\n");
    const Followed unseen = follow(*c, "unseen");
    EXPECT_EQ(unseen.stage, TaskStage::kFailed);
    EXPECT_NE(unseen.error.find(" is missing at /nowhere/"), std::string::npos)
        << unseen.error << readFile(taskDir(unseen.task) / "task.log") << readFile(mLog);
    EXPECT_NE(unseen.error.find(": the data directory must be visible at the same path on every node"),
              std::string::npos)
        << unseen.error;
}

// The queue's line for the job of that task on the real cluster: "STATE", empty once it left.
std::string queued(TaskHandle task) {
    const std::string command = "squeue -h -o %T -n kestrix-" + kxservice::hex64(task);
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[256];
        while (fgets(buf, sizeof buf, p) != nullptr) {
            out += buf;
        }
        pclose(p);
    }
    return out.substr(0, out.find('\n'));
}
// Whether the queue's answer for the task becomes want within 20 s.
bool becomes(TaskHandle task, const std::string& want) {
    for (int n = 0; n < 200; ++n) {
        if (queued(task) == want) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

TEST_F(Slurm, ATaskCancelledWhileItsJobWaitsOrRunsLeavesNothingBehind) {
    KX_REQUIRE_SLURM_CLUSTER();
    // The real tools, but each job script sleeps before its worker starts, so that it is seen running.
    for (const char* tool : {"squeue", "scontrol", "sacct", "scancel"}) {
        script(tool, std::string("exec ") + tool + " \"$@\"\n");
    }
    script("sbatch",
           "for a; do job=$a; done\n"
           "[ -f $D/hold ] && sed -i 's/^exec /echo $$ > started; sleep 60; exec /' \"$job\"\n"
           "exec sbatch \"$@\"\n");
    // A job that may begin only in an hour waits whatever the node's load.
    start("--slurm-bin " + (mDir / "bin").string() + " --slurm-poll 200 --slurm-option --begin=now+3600");
    auto c = session();
    const Followed waiting = follow(*c, "waiting", TaskStage::kPending);
    EXPECT_TRUE(becomes(waiting.task, "PENDING"));
    c.reset();
    EXPECT_TRUE(becomes(waiting.task, "")) << queued(waiting.task);

    TearDown();
    mService.reset();
    writeFile(mDir / "hold", "");
    start("--slurm-bin " + (mDir / "bin").string() + " --slurm-poll 200");
    c = session();
    const Followed running = follow(*c, "running", TaskStage::kRunning);
    ASSERT_EQ(running.stage, TaskStage::kRunning) << running.error;
    ASSERT_TRUE(fileSays(taskDir(running.task) / "started", "\n"));
    const int pid = std::stoi(readFile(taskDir(running.task) / "started"));
    EXPECT_EQ(queued(running.task), "RUNNING");
    c.reset();
    EXPECT_TRUE(becomes(running.task, "")) << queued(running.task);
    bool gone = false;
    for (int n = 0; n < 200 && !gone; ++n) {  // a zombie left to an init that does not reap counts as gone
        const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
        gone = stat.empty() || stat.find(") Z") != std::string::npos;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(gone) << "the job's script " << pid << " still runs";
}

}  // namespace
}  // namespace kxtest
