#pragma once
// `kestrix-service --run-task TASK_DIR`: what a cluster job runs on its node. It reads the task's
// description (service/TaskFiles.h), checks that every input is visible here, runs the engine as the
// service's own workers would and writes the progress, the task log and the exit file into the task
// directory. SIGTERM (a cancelled job, or one out of time) ends the engine's subprocesses and leaves no
// exit file: the scheduler then tells why the job ended.
#include <signal.h>

#include <filesystem>

namespace kxservice {

// The process's exit status: 0 when the results are written, 1 when the task failed (the exit file says
// why), 143 after one of stopSignals, which the calling thread and every other have blocked.
int runTaskWorker(const std::filesystem::path& dir, const sigset_t& stopSignals);

}  // namespace kxservice
