#include "service/slurm/JobState.h"

#include <algorithm>
#include <sstream>
#include <utility>

namespace kxservice::slurm {

Phase phaseOf(const std::string& state) {
    static const char* const waiting[] = {"PENDING",     "REQUEUED",      "REQUEUE_HOLD",
                                          "REQUEUE_FED", "RESV_DEL_HOLD", "SPECIAL_EXIT"};
    static const char* const active[] = {"RUNNING", "CONFIGURING", "COMPLETING", "SUSPENDED",
                                         "STOPPED", "SIGNALING",   "STAGE_OUT",  "RESIZING"};
    // sacct writes "CANCELLED by 0": the first word is the state.
    const std::string word = state.substr(0, state.find(' '));
    const auto in = [&](const auto& names) {
        return std::any_of(std::begin(names), std::end(names), [&](const char* n) { return word == n; });
    };
    return in(waiting) ? Phase::kWaiting : in(active) ? Phase::kActive : Phase::kEnded;
}

std::string fieldOf(const std::string& text, const std::string& key) {
    std::istringstream words(text);
    std::string word;
    while (words >> word) {
        if (word.size() > key.size() && word.compare(0, key.size(), key) == 0 && word[key.size()] == '=') {
            return word.substr(key.size() + 1);
        }
    }
    return {};
}

JobRecord recordFromScontrol(const std::string& text) {
    return {fieldOf(text, "JobState"), fieldOf(text, "Reason"), fieldOf(text, "ExitCode")};
}

JobRecord recordFromSacct(const std::string& text) {
    const std::string line = text.substr(0, text.find('\n'));
    std::istringstream fields(line);
    JobRecord record;
    std::getline(fields, record.state, '|');
    std::getline(fields, record.exitCode, '|');
    std::getline(fields, record.reason, '|');
    record.state = record.state.substr(0, record.state.find(' '));
    return record;
}

std::string endReason(const JobRecord& r, unsigned minutes) {
    static const std::pair<const char*, const char*> words[] = {
        {"CANCELLED", "the job was cancelled outside the service"},
        {"FAILED", "the job failed"},
        {"NODE_FAIL", "the job's node failed"},
        {"OUT_OF_MEMORY", "the job ran out of memory"},
        {"PREEMPTED", "the job was preempted"},
        {"BOOT_FAIL", "the job's node did not boot"},
        {"DEADLINE", "the job passed its deadline"},
        {"COMPLETED", "the job ended without the worker's verdict (no exit file in the task directory)"},
    };
    std::string why = "the job ended in state " + r.state;
    if (r.state == "TIMEOUT") {
        why = "the job ran out of its time limit of " + std::to_string(minutes) + " minutes";
    }
    for (const auto& [state, text] : words) {
        if (r.state == state) {
            why = text;
        }
    }
    if (!r.exitCode.empty() && r.exitCode != "0:0") {
        why += ", exit code " + r.exitCode;
    }
    if (!r.reason.empty() && r.reason != "None") {
        why += " (" + r.reason + ")";
    }
    return why;
}

}  // namespace kxservice::slurm
