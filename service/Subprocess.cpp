#include "service/Subprocess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace kxservice {

namespace {

using Clock = std::chrono::steady_clock;

// In the child between fork and exec: only async-signal-safe calls. Its own process group (so that
// ending it ends what it started), SIGKILL when the thread that started it dies, nothing of the
// service's but standard input, output and error. Writes errno to report and exits on failure.
[[noreturn]] void execChild(char* const* argv, const char* log, const char* outFile, const char* dir,
                            pid_t parent, int report) {
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) {
        _exit(127);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    const int in = open("/dev/null", O_RDONLY);
    const int err = open(log, O_WRONLY | O_CREAT | O_APPEND, 0600);
    const int out = *outFile == '\0' ? err : open(outFile, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || err < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
        (*dir != '\0' && chdir(dir) != 0)) {
        const int e = errno;
        (void)!write(report, &e, sizeof e);
        _exit(127);
    }
    // Everything above 2 but the report pipe, which closes on exec by itself.
    if (report > 3) {
        close_range(3, static_cast<unsigned>(report) - 1, 0);
    }
    close_range(static_cast<unsigned>(report) + 1, ~0u, 0);
    execvp(argv[0], argv);
    const int e = errno;
    (void)!write(report, &e, sizeof e);
    _exit(127);
}

// Whether the child has ended, leaving it to be reaped.
bool exited(pid_t pid) {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == pid;
}

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
    const std::string log = spec.logFile.string();
    const std::string outFile = spec.outFile.string();
    const std::string dir = spec.workDir.string();
    std::vector<char*> argv;
    for (const std::string& a : spec.argv) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot start " + spec.argv[0] + ": " + std::strerror(errno));
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        execChild(argv.data(), log.c_str(), outFile.c_str(), dir.c_str(), parent, report[1]);
    }
    close(report[1]);
    int err = pid < 0 ? errno : 0;
    if (pid > 0) {
        // Either the exec closed the pipe (nothing to read) or the child reports why it could not run.
        while (read(report[0], &err, sizeof err) < 0 && errno == EINTR) {
        }
    }
    close(report[0]);
    if (err != 0) {
        if (pid > 0) {
            int wstatus = 0;
            waitpid(pid, &wstatus, 0);
        }
        throw std::runtime_error("cannot start " + spec.argv[0] + ": " + std::strerror(err));
    }

    const auto deadline = Clock::now() + spec.timeout;
    SubprocessResult result;
    int wstatus = 0;
    for (;;) {
        if (exited(pid)) {
            // What it left behind in its group ends with it; reaping only now keeps the group's id
            // from being reused meanwhile.
            kill(-pid, SIGKILL);
            waitpid(pid, &wstatus, 0);
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
