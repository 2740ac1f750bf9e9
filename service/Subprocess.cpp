#include "service/Subprocess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace kxservice {

namespace {

using Clock = std::chrono::steady_clock;

struct SpawnAttrs {
    posix_spawn_file_actions_t actions{};
    posix_spawnattr_t attr{};
    SpawnAttrs() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attr);
    }
    ~SpawnAttrs() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
};

// Reaps the child if it has ended; true then.
bool reaped(pid_t pid, int& wstatus) {
    const pid_t r = waitpid(pid, &wstatus, WNOHANG);
    return r == pid;
}

// SIGTERM to the group, SIGKILL after the grace period; always reaps the child.
void endGroup(pid_t pid) {
    kill(-pid, SIGTERM);
    int wstatus = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (Clock::now() < deadline) {
        if (reaped(pid, wstatus)) {
            kill(-pid, SIGKILL);  // grandchildren that ignored SIGTERM
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(-pid, SIGKILL);
    waitpid(pid, &wstatus, 0);
}

}  // namespace

std::string SubprocessResult::describe() const {
    switch (end) {
        case End::kExited:
            return "exited with status " + std::to_string(status);
        case End::kSignalled:
            return "killed by signal " + std::to_string(status);
        case End::kTimedOut:
            return "timed out";
        case End::kCancelled:
            return "cancelled";
    }
    return "ended";
}

SubprocessResult runSubprocess(const SubprocessSpec& spec) {
    if (spec.argv.empty()) {
        throw std::runtime_error("no program to run");
    }
    SpawnAttrs sa;
    const std::string log = spec.logFile.string();
    const std::string dir = spec.workDir.string();
    posix_spawn_file_actions_addopen(&sa.actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&sa.actions, 1, 2);
    posix_spawn_file_actions_addopen(&sa.actions, 0, "/dev/null", O_RDONLY, 0);
    if (!dir.empty()) {
        posix_spawn_file_actions_addchdir_np(&sa.actions, dir.c_str());
    }
    // Its own process group, so that ending it also ends what it started.
    posix_spawnattr_setpgroup(&sa.attr, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&sa.attr, &none);
    posix_spawnattr_setflags(&sa.attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> argv;
    for (const std::string& a : spec.argv) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int err = posix_spawnp(&pid, argv[0], &sa.actions, &sa.attr, argv.data(), environ);
    if (err != 0) {
        throw std::runtime_error("cannot start " + spec.argv[0] + ": " + std::strerror(err));
    }

    const auto deadline = Clock::now() + spec.timeout;
    SubprocessResult result;
    int wstatus = 0;
    for (;;) {
        if (reaped(pid, wstatus)) {
            break;
        }
        if (spec.cancel != nullptr && spec.cancel->load()) {
            endGroup(pid);
            result.end = SubprocessResult::End::kCancelled;
            return result;
        }
        if (spec.timeout.count() > 0 && Clock::now() >= deadline) {
            endGroup(pid);
            result.end = SubprocessResult::End::kTimedOut;
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (WIFEXITED(wstatus)) {
        result.status = WEXITSTATUS(wstatus);
    } else {
        result.end = SubprocessResult::End::kSignalled;
        result.status = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
    }
    return result;
}

}  // namespace kxservice
