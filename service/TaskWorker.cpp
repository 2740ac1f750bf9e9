#include "service/TaskWorker.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <thread>

#include "config/SfmCfgJson.h"
#include "model/KsmModel.h"
#include "service/LocalRunner.h"
#include "service/Log.h"
#include "service/TaskFiles.h"

namespace fs = std::filesystem;

namespace kxservice {

namespace {

std::string hostName() {
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

// The job as the service read it when the task was launched.
std::variant<SfmJob, MvsJob> rebuildJob(const taskfiles::Description& d) {
    const fs::path& main = d.inputs.at(d.main);
    if (d.kind == TaskKind::kSfm) {
        SfmJob job;
        job.configKey = d.main;
        std::ifstream in(main, std::ios::binary);
        job.cfg = readSfmCfg(in);
        return job;
    }
    MvsJob job;
    job.ksmKey = d.main;
    job.images = d.images;
    KestrixSparseModel model = ksm::loadKsm(main);
    if (model.index() != 1) {
        throw std::runtime_error("the sparse model is not a version-1 model");
    }
    job.model = std::move(std::get<1>(model));
    return job;
}

// The progress file is rewritten only when the ratio moved by a percent: engines report often.
class ProgressFile {
public:
    explicit ProgressFile(fs::path dir) : mDir(std::move(dir)) {}
    void set(float ratio) {
        const std::lock_guard<std::mutex> lock(mMutex);
        if (ratio < mLast + 0.01f && ratio < 1 && ratio >= mLast) {
            return;
        }
        mLast = ratio;
        try {
            taskfiles::writeProgress(mDir, ratio);
        } catch (const std::exception&) {  // progress is a courtesy: the task goes on
        }
    }

private:
    fs::path mDir;
    std::mutex mMutex;
    float mLast = -1;
};

std::vector<ResultFile> runDescribed(const fs::path& dir, const std::atomic<bool>& cancel) {
    const taskfiles::Description d = taskfiles::readDescription(dir);
    for (const auto& [key, path] : d.inputs) {
        std::error_code ec;
        if (!fs::is_regular_file(path, ec)) {
            throw std::runtime_error("input " + key.str() + " is missing at " + path.string() + " on node " +
                                     hostName() +
                                     ": the data directory must be visible at the same path on every node");
        }
    }
    const std::unique_ptr<Engine> engine = makeEngine(d.engine, d.options);
    if (!engine) {
        throw std::runtime_error("unknown engine " + d.engine);
    }
    if (d.kind == TaskKind::kMvs && !engine->canDensify()) {
        throw std::runtime_error("node " + hostName() + ": " + engine->refusalOfMvs());
    }
    const std::variant<SfmJob, MvsJob> job = rebuildJob(d);
    ProgressFile progress(dir);
    TaskContext context(
        dir, d.inputs, [&](float r) { progress.set(r); }, cancel);
    context.log("worker on node " + hostName() + " (pid " + std::to_string(getpid()) + ")");
    progress.set(0);
    std::vector<ResultFile> files = runEngine(*engine, job, context);
    progress.set(1);
    return files;
}

}  // namespace

int runTaskWorker(const fs::path& dir, const sigset_t& stopSignals) {
    // A stop signal only sets the flag the engine checks: its subprocesses are ended in order.
    static std::atomic<bool> cancel{false};
    std::thread([stopSignals] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        cancel = true;
    }).detach();

    taskfiles::Exit exit;
    try {
        exit.results = runDescribed(dir, cancel);
        exit.ok = true;
    } catch (const std::exception& e) {
        exit.failure = e.what();
    }
    if (cancel && !exit.ok) {
        // No verdict of its own: the scheduler tells why the job was stopped.
        appendTaskLog(dir, "worker stopped by a signal");
        logLine("worker stopped by a signal");
        return 143;
    }
    if (!exit.ok) {
        logLine("task failed: " + exit.failure);
    }
    try {
        taskfiles::writeExit(dir, exit);
    } catch (const std::exception& e) {
        logLine(std::string("cannot write the exit file: ") + e.what());
        return 1;
    }
    return exit.ok ? 0 : 1;
}

}  // namespace kxservice
