#pragma once
// How the scheduler's words for a job (squeue's and scontrol's state names, sacct's lines) map to the
// task's stages and to the reason a failed task gives its client.
#include <string>

namespace kxservice::slurm {

enum class Phase { kWaiting, kActive, kEnded };

// The phase of a state as squeue (%T), scontrol (JobState) or sacct (State) name it. A state that is
// not known is taken as ended: the job is then judged by its exit file and the scheduler's record.
Phase phaseOf(const std::string& state);

// What the scheduler remembers of an ended job; state empty when it remembers nothing.
struct JobRecord {
    std::string state;     // "TIMEOUT", "CANCELLED", ...
    std::string reason;    // the scheduler's reason, "None" or empty when it gives none
    std::string exitCode;  // "STATUS:SIGNAL"
};

// The value of Key in `scontrol show job -o` output ("Key=Value" words), empty when absent.
std::string fieldOf(const std::string& text, const std::string& key);
// From `scontrol show job -o ID` output.
JobRecord recordFromScontrol(const std::string& text);
// From the first line of `sacct -n -P -X -j ID -o State,ExitCode,Reason` output.
JobRecord recordFromSacct(const std::string& text);

// Why a job that ended without the worker's verdict failed, for the client: "the job ran out of its
// time limit of 3 minutes", "the job was cancelled outside the service", ...
std::string endReason(const JobRecord& record, unsigned minutes);

}  // namespace kxservice::slurm
