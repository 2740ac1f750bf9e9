#include "service/TaskManager.h"

#include <openssl/rand.h>

#include <cstdio>

#include "service/ContentStore.h"
#include "service/Faults.h"
#include "service/Limits.h"
#include "service/Log.h"

namespace fs = std::filesystem;

namespace kxservice {

struct TaskManager::Task {
    TaskHandle handle = 0;
    TaskKind kind = TaskKind::kSfm;
    std::variant<SfmJob, MvsJob> job;
    std::vector<FileKey> inputs;
    uint64_t session = 0;
    fs::path dir;
    std::atomic<bool> cancel{false};
    bool collected = false;    // results asked for: the task outlives its session
    bool running = false;      // a worker holds it
    bool removed = false;      // cancelled: the worker removes its directory
    bool uncollected = false;  // finished and counted in mNbUncollected
    TaskStatus status;         // guarded by mMutex
    std::vector<TaskResult> results;
    std::chrono::steady_clock::time_point finishedAt;
};

std::string hex64(uint64_t v) {
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
    return buf;
}

TaskManager::TaskManager(TaskRunner& runner, ContentStore& store, Faults& faults, fs::path tasksDir,
                         uint32_t nbWorkers)
    : mRunner(runner), mStore(store), mFaults(faults), mTasksDir(std::move(tasksDir)) {
    fs::create_directories(mTasksDir);
    // Results of earlier runs count against the budget, and go first when room is needed.
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(mTasksDir, ec)) {
        mStore.account(e.path(), bytesUnder(e.path()));
        mStore.markRemovable(e.path());
    }
    for (uint32_t i = 0; i < nbWorkers; ++i) {
        mWorkers.emplace_back([this] { workerLoop(); });
    }
    mMeter = std::thread([this] { meterLoop(); });
}

TaskManager::~TaskManager() {
    stop();
}

TaskHandle TaskManager::newHandle() const {
    // Random, so that a handle cannot be guessed from another; never 0.
    for (;;) {
        TaskHandle h = 0;
        RAND_bytes(reinterpret_cast<unsigned char*>(&h), sizeof h);
        if (h != 0 && mTasks.count(h) == 0) {
            return h;
        }
    }
}

TaskHandle TaskManager::launch(std::variant<SfmJob, MvsJob> job, std::vector<FileKey> pinnedInputs,
                               uint64_t session) {
    auto task = std::make_shared<Task>();
    task->kind = std::holds_alternative<SfmJob>(job) ? TaskKind::kSfm : TaskKind::kMvs;
    task->job = std::move(job);
    task->inputs = std::move(pinnedInputs);
    task->session = session;
    const std::lock_guard<std::mutex> lock(mMutex);
    task->handle = newHandle();
    task->dir = mTasksDir / hex64(task->handle);
    mTasks[task->handle] = task;
    mQueue.push(session, task);
    ++mNbActive[session];
    mWake.notify_one();
    logLine("task " + hex64(task->handle) + " queued (" + (task->kind == TaskKind::kSfm ? "SfM" : "MVS") +
            ")");
    return task->handle;
}

std::optional<TaskStatus> TaskManager::status(TaskHandle h) const {
    const std::lock_guard<std::mutex> lock(mMutex);
    const auto it = mTasks.find(h);
    if (it == mTasks.end()) {
        return std::nullopt;
    }
    return it->second->status;
}

std::optional<TaskKind> TaskManager::kindOf(TaskHandle h) const {
    const std::lock_guard<std::mutex> lock(mMutex);
    const auto it = mTasks.find(h);
    if (it == mTasks.end()) {
        return std::nullopt;
    }
    return it->second->kind;
}

size_t TaskManager::nbOfSession(uint64_t session) const {
    const std::lock_guard<std::mutex> lock(mMutex);
    const auto it = mNbActive.find(session);
    return it == mNbActive.end() ? 0 : it->second;
}

size_t TaskManager::nbUncollectedOfSession(uint64_t session) const {
    const std::lock_guard<std::mutex> lock(mMutex);
    const auto it = mNbUncollected.find(session);
    return it == mNbUncollected.end() ? 0 : it->second;
}

namespace {
void decrement(std::unordered_map<uint64_t, size_t>& counts, uint64_t session) {
    const auto it = counts.find(session);
    if (it != counts.end() && --it->second == 0) {
        counts.erase(it);
    }
}
}  // namespace

void TaskManager::inactiveLocked(uint64_t session) {
    decrement(mNbActive, session);
}

std::optional<std::vector<TaskResult>> TaskManager::collect(TaskHandle h, TaskKind kind) {
    const std::lock_guard<std::mutex> lock(mMutex);
    const auto it = mTasks.find(h);
    if (it == mTasks.end() || it->second->kind != kind || it->second->status.stage != TaskStage::kFinished) {
        return std::nullopt;
    }
    it->second->collected = true;
    if (it->second->uncollected) {
        it->second->uncollected = false;
        decrement(mNbUncollected, it->second->session);
    }
    mStore.markRemovable(it->second->dir);
    return it->second->results;
}

void TaskManager::sessionEnded(uint64_t session) {
    std::vector<std::shared_ptr<Task>> idle;
    {
        const std::lock_guard<std::mutex> lock(mMutex);
        for (auto it = mTasks.begin(); it != mTasks.end();) {
            const auto& t = it->second;
            if (t->session != session || t->collected) {
                ++it;
                continue;
            }
            t->cancel = true;
            t->removed = true;
            if (!t->running) {
                idle.push_back(t);
            }
            logLine("task " + hex64(t->handle) + " cancelled: its session ended");
            it = mTasks.erase(it);
        }
        for (const auto& t : idle) {
            if (mQueue.remove(session, t)) {
                inactiveLocked(session);
            }
            mDoomed.push_back(t->dir);
        }
        mNbUncollected.erase(session);
    }
    mMeterWake.notify_all();
    for (const auto& t : idle) {
        // Queued or already ended: nobody else holds it.
        if (t->status.stage == TaskStage::kPending) {
            mStore.unpinAll(t->inputs);
        }
    }
}

void TaskManager::removeDoomed() {
    std::vector<fs::path> doomed;
    {
        const std::lock_guard<std::mutex> lock(mMutex);
        doomed.swap(mDoomed);
    }
    for (const fs::path& dir : doomed) {
        std::error_code ec;
        fs::remove_all(dir, ec);
        mStore.forget(dir);
    }
}

void TaskManager::removeOlderThan(std::chrono::seconds maxAge) {
    const auto now = std::chrono::steady_clock::now();
    std::vector<fs::path> known;
    {
        const std::lock_guard<std::mutex> lock(mMutex);
        for (auto it = mTasks.begin(); it != mTasks.end();) {
            const auto& t = it->second;
            const bool ended =
                t->status.stage == TaskStage::kFinished || t->status.stage == TaskStage::kFailed;
            if (ended && !t->running && now - t->finishedAt > maxAge) {
                if (t->uncollected) {
                    decrement(mNbUncollected, t->session);
                }
                mDoomed.push_back(t->dir);
                logLine("task " + hex64(t->handle) + " removed after its keeping time");
                it = mTasks.erase(it);
            } else {
                known.push_back(t->dir);
                ++it;
            }
        }
    }
    // Directories of earlier runs are judged by their modification time.
    std::error_code ec;
    const auto fileNow = fs::file_time_type::clock::now();
    for (const fs::directory_entry& e : fs::directory_iterator(mTasksDir, ec)) {
        if (std::find(known.begin(), known.end(), e.path()) != known.end()) {
            continue;
        }
        std::error_code ec2;
        const auto mtime = e.last_write_time(ec2);
        if (!ec2 && fileNow - mtime > maxAge) {
            const std::lock_guard<std::mutex> lock(mMutex);
            mDoomed.push_back(e.path());
        }
    }
    mMeterWake.notify_all();
}

void TaskManager::stop() {
    {
        const std::lock_guard<std::mutex> lock(mMutex);
        if (mStopping) {
            return;
        }
        mStopping = true;
        for (auto& [h, t] : mTasks) {
            t->cancel = true;
        }
        mQueue.clear();
    }
    mWake.notify_all();
    mMeterWake.notify_all();
    for (std::thread& w : mWorkers) {
        w.join();
    }
    mWorkers.clear();
    mMeter.join();
    removeDoomed();
}

void TaskManager::meterLoop() {
    std::unique_lock<std::mutex> lock(mMutex);
    const auto interval = std::chrono::milliseconds(limits::kTaskMeterMilliseconds);
    while (!mMeterWake.wait_for(lock, interval, [&] { return mStopping || !mDoomed.empty(); }) ||
           !mStopping) {
        lock.unlock();
        removeDoomed();
        lock.lock();
        std::vector<std::shared_ptr<Task>> running;
        for (const auto& [h, t] : mTasks) {
            if (t->running) {
                running.push_back(t);
            }
        }
        lock.unlock();
        std::vector<uint64_t> sizes;
        for (const auto& t : running) {
            sizes.push_back(bytesUnder(t->dir));  // a walk: not under the lock
        }
        lock.lock();
        // A task that ended meanwhile was counted, or forgotten, by finish().
        for (size_t i = 0; i < running.size(); ++i) {
            if (running[i]->running) {
                mStore.account(running[i]->dir, sizes[i]);
            }
        }
    }
}

void TaskManager::workerLoop() {
    for (;;) {
        std::shared_ptr<Task> task;
        {
            std::unique_lock<std::mutex> lock(mMutex);
            mWake.wait(lock, [&] { return mStopping || !mQueue.empty(); });
            if (mStopping) {
                return;
            }
            task = *mQueue.pop();
            task->running = true;
            task->status = {TaskStage::kFetchingFiles, 0, {}};
        }
        run(*task);
        finish(task);
    }
}

void TaskManager::run(Task& task) {
    const std::string name = "task " + hex64(task.handle);
    const auto setStatus = [&](TaskStage stage, float ratio) {
        const std::lock_guard<std::mutex> lock(mMutex);
        task.status.stage = stage;
        task.status.ratio = ratio;
    };
    std::string failure;
    try {
        fs::create_directories(task.dir);
        std::unordered_map<FileKey, fs::path> inputs;
        for (const FileKey& k : task.inputs) {
            inputs[k] = mStore.pathOf(k);
        }
        RunnerTask job;
        job.job = &task.job;
        job.dir = task.dir;
        job.inputs = std::move(inputs);
        job.cancel = &task.cancel;
        job.status = setStatus;
        job.claim = [this](int64_t size) {
            if (size < 0) {
                mStore.release(uint64_t(-size));
                return true;
            }
            return mStore.claim(uint64_t(size));
        };
        setStatus(TaskStage::kFetchingFiles, 1);
        std::vector<ResultFile> files = mRunner.run(job);
        if (task.cancel) {
            throw std::runtime_error("cancelled");
        }
        if (mFaults.fire(Fault::kTaskFails)) {
            throw std::runtime_error("the task failed on purpose (fault task-fails)");
        }
        if (files.empty()) {
            throw std::runtime_error("the engine made no result");
        }
        setStatus(TaskStage::kFinishedComputing, 1);
        setStatus(TaskStage::kUploadingResults, 0);
        std::vector<TaskResult> results;
        for (const ResultFile& f : files) {
            if (!fs::is_regular_file(f.path)) {
                throw std::runtime_error("missing result file " + f.path.filename().string());
            }
            results.push_back(
                {f.path, f.type, f.hModel, FileKey(md5sumHex(f.path.c_str())), fs::file_size(f.path)});
        }
        appendTaskLog(task.dir, "finished with " + std::to_string(results.size()) + " result files");
        const std::lock_guard<std::mutex> lock(mMutex);
        task.results = std::move(results);
        task.status = {TaskStage::kFinished, 1, {}};
        return;
    } catch (const std::exception& e) {
        failure = e.what();
    }
    {
        std::error_code ec;
        if (fs::exists(task.dir, ec)) {
            appendTaskLog(task.dir, "failed: " + failure);
        }
    }
    if (!task.cancel) {
        logLine(name + " failed: " + failure + " (log " + (task.dir / "task.log").string() + ")");
    }
    const std::lock_guard<std::mutex> lock(mMutex);
    task.status = {TaskStage::kFailed, 0, failure};
}

void TaskManager::finish(const std::shared_ptr<Task>& task) {
    mStore.unpinAll(task->inputs);
    bool removed = false;
    int stage = 0;
    {
        const std::lock_guard<std::mutex> lock(mMutex);
        task->running = false;
        inactiveLocked(task->session);
        task->finishedAt = std::chrono::steady_clock::now();
        removed = task->removed;
        stage = static_cast<int>(task->status.stage);
        if (!removed && !task->collected && task->status.stage == TaskStage::kFinished) {
            task->uncollected = true;
            ++mNbUncollected[task->session];
        }
    }
    if (removed) {
        std::error_code ec;
        fs::remove_all(task->dir, ec);
        mStore.forget(task->dir);
    } else {
        mStore.account(task->dir, bytesUnder(task->dir));
        if (stage == static_cast<int>(TaskStage::kFailed)) {
            mStore.markRemovable(task->dir);  // only its log is left to read: it may go for room
        }
    }
    logLine("task " + hex64(task->handle) + " ended in stage " + std::to_string(stage));
}

}  // namespace kxservice
