#pragma once
// The service's settings, as the command line gives them.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace kxservice {

struct Options {
    std::string host = "127.0.0.1";  // without brackets for IPv6
    uint16_t port = 47443;           // 0: any free port
    std::filesystem::path dataDir;   // empty: the shared default
    std::string engine = "test";
    // Seconds for one task, 0 for the engine's default. The command line's engine is "colmap" by default
    // when colmapFound().
    uint32_t taskTimeout = 0;
    // Longest side of the images dense stereo works on, 0 for the engine's default.
    uint32_t denseImageSize = 0;
    std::vector<std::string> faults;  // names, each firing once per occurrence
    std::filesystem::path certFile, keyFile, caFile;
    // Tasks running (local) or jobs in flight (slurm) at once; the rest wait in stage 0.
    uint32_t maxTasks = 1;
    // Where tasks run: "local" (this machine) or "slurm" (one batch job each, see SlurmRunner).
    std::string runner = "local";
    std::filesystem::path slurmBin;  // the directory of sbatch and its kin; empty: PATH
    std::string slurmPartition;      // empty: the cluster's default
    std::vector<std::string> slurmOptions, slurmMvsOptions;  // sbatch options of every job, of MVS jobs
    std::chrono::milliseconds slurmPoll{500};                // how often the queue is asked
    uint64_t maxBody = uint64_t{64} << 30;
    uint64_t maxStore = uint64_t{20} << 30;
    uint32_t keepResultsDays = 7;
    bool allowRemote = false;
    uint32_t nbNetThreads = 2;  // threads serving connections
    // Connections open at once, in all and from one address; more are closed at once
    // (--max-connections, --max-connections-per-address).
    uint32_t maxConnections = 512;
    uint32_t maxConnectionsPerAddress = 64;
    // A PUT that sends nothing for uploadIdle is ended, and so is one that sends less than
    // uploadMinRate bytes a second over uploadRateWindow while other uploads were refused for room
    // (--upload-idle, --upload-min-rate, --upload-rate-window).
    std::chrono::milliseconds uploadIdle{30000};
    std::chrono::milliseconds uploadRateWindow{60000};
    uint64_t uploadMinRate = 8192;
};

// --max-tasks when the runner is slurm and none is given: jobs wait on the cluster, not here.
constexpr uint32_t kDefaultSlurmJobs = 64;

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Parses the arguments after the program name. Throws UsageError for an unknown option, a missing or
// malformed value, an unknown engine or fault, or --cert without --key (and the reverse).
Options parseOptions(const std::vector<std::string>& args);
std::string usageText();

// Whether the host is a loopback address or name (127.0.0.0/8, ::1, localhost).
bool isLoopbackHost(const std::string& host);

}  // namespace kxservice
