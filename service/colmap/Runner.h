#pragma once
// One task's run of colmap subprocesses under a common deadline, with the time they took; shared by the
// SfM and MVS tasks of the colmap engine.
#include <chrono>
#include <filesystem>
#include <string>

#include "service/TaskContext.h"
#include "service/colmap/Commands.h"

namespace kxcolmap {

// "12.345 s".
std::string seconds(double s);

// Writes the whole text or throws std::runtime_error naming the file.
void writeText(const std::filesystem::path& path, const std::string& text);

class Runner {
public:
    using Clock = std::chrono::steady_clock;

    Runner(kxservice::TaskContext& context, const RunOptions& options, unsigned taskSeconds);

    // Runs one subcommand with the stage's progress between lo and hi. A mapper that ends with an error
    // has found no model, which the caller decides about; any other error fails the task.
    kxservice::SubprocessResult run(const Args& args, double lo, double hi, size_t nbImages,
                                    bool errorExitAllowed = false);

    // Throws "cancelled" when the task must stop, or "WHAT timed out: ..." when the deadline passed: work
    // the engine does itself checks between its steps.
    void checkpoint(const std::string& what) const;

    // The task log's size now, and what was appended since: how the engine reads a subprocess's output.
    std::uintmax_t logSize() const;
    std::string logSince(std::uintmax_t offset) const;

    double subprocessSeconds() const { return mSubprocessSeconds; }
    const RunOptions& options() const { return mOptions; }

private:
    std::string timeoutReason(const std::string& what) const;

    kxservice::TaskContext& mContext;
    const RunOptions& mOptions;
    unsigned mSeconds;
    Clock::time_point mDeadline;
    double mSubprocessSeconds = 0;
};

}  // namespace kxcolmap
