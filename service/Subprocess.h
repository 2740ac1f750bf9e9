#pragma once
// Runs a program to completion as its own process group, with a deadline and a cancellation flag, its
// output appended to a log file. Used by engines through TaskContext::run. The child inherits no
// descriptor of the service but standard input, output and error, is killed when the thread that
// started it dies, and whatever it leaves behind in its group is killed when it ends.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace kxservice {

struct SubprocessSpec {
    std::vector<std::string> argv;         // argv[0] is looked up in PATH
    std::filesystem::path workDir;         // the child's working directory
    std::filesystem::path logFile;         // standard error (and output, unless outFile) are appended here
    std::chrono::milliseconds timeout{0};  // 0: none
    const std::atomic<bool>* cancel = nullptr;
    std::filesystem::path outFile{};  // when given, standard output is written here instead
};

struct SubprocessResult {
    enum class End { kExited, kSignalled, kTimedOut, kCancelled };
    End end = End::kExited;
    int status = 0;  // exit status for kExited, signal number for kSignalled
    bool ok() const { return end == End::kExited && status == 0; }
    // "exited with status 3", "killed by signal 9", "timed out", "cancelled".
    std::string describe() const;
};

// Waits for the child. On timeout or cancellation the whole process group gets SIGTERM, then SIGKILL
// after 2 s. Throws std::runtime_error when the program cannot be started (missing program, bad
// directory, log file that cannot be opened).
SubprocessResult runSubprocess(const SubprocessSpec& spec);

}  // namespace kxservice
