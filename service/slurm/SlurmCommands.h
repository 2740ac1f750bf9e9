#pragma once
// The cluster's command-line tools (sbatch, squeue, scontrol, sacct, scancel), found in one directory
// or in PATH, each run to its end with a deadline and its output read back. Everything the service asks
// the cluster goes through here, so that tests can put stand-in scripts in the tools' place.
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace kxservice::slurm {

struct CommandResult {
    bool ok = false;    // ran and exited with status 0
    std::string out;    // standard output
    std::string err;    // standard error, or why it did not run
    std::string ended;  // "exited with status 1", "timed out", ...
    // "sbatch exited with status 1: <first line of its error output>"
    std::string describe(const std::string& tool) const;
};

class Commands {
public:
    // binDir empty: the tools are looked up in PATH. scratchDir holds their output while they run.
    Commands(std::filesystem::path binDir, std::filesystem::path scratchDir);

    // The tool's path when it is there and executable, else empty.
    std::filesystem::path find(const std::string& tool) const;
    // "the directory D" or "PATH": where find() looks, for messages.
    std::string where() const;
    // Runs the tool; a tool that is missing or cannot start gives ok false with the reason in err.
    CommandResult run(const std::string& tool, const std::vector<std::string>& args,
                      std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;

private:
    std::filesystem::path mBinDir;
    std::filesystem::path mScratchDir;
};

}  // namespace kxservice::slurm
