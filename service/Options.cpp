#include "service/Options.h"

#include <algorithm>
#include <charconv>

#include "service/Engine.h"
#include "service/Faults.h"

namespace kxservice {

namespace {

uint64_t parseNumber(const std::string& option, const std::string& text, uint64_t max) {
    uint64_t v = 0;
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, v);
    if (text.empty() || r.ec != std::errc() || r.ptr != end || v > max) {
        throw UsageError(option + " needs a number up to " + std::to_string(max) + ", not \"" + text + "\"");
    }
    return v;
}

// A count or a number of seconds that must be at least 1.
uint32_t parsePositive(const std::string& option, const std::string& text, uint32_t max) {
    const uint64_t v = parseNumber(option, text, max);
    if (v == 0) {
        throw UsageError(option + " needs at least 1");
    }
    return static_cast<uint32_t>(v);
}

// "HOST:PORT", "[V6]:PORT".
void parseListen(const std::string& text, Options& o) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        throw UsageError("--listen needs HOST:PORT, not \"" + text + "\"");
    }
    std::string host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string::npos) {
        throw UsageError("--listen: write an IPv6 address in brackets, as [::1]:47443");
    }
    if (host.empty()) {
        throw UsageError("--listen needs a host");
    }
    o.host = host;
    o.port = static_cast<uint16_t>(parseNumber("--listen", text.substr(colon + 1), 65535));
}

}  // namespace

bool isLoopbackHost(const std::string& host) {
    return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

std::string usageText() {
    std::string engines;
    for (const std::string& n : engineNames()) {
        engines += (engines.empty() ? "" : ", ") + n;
    }
    return "usage: kestrix-service [--listen HOST:PORT] [--data-dir DIR] [--engine NAME] [--fault NAME]...\n"
           "                       [--cert FILE --key FILE [--ca FILE]] [--max-tasks N] [--max-body BYTES]\n"
           "                       [--max-store BYTES] [--keep-results DAYS] [--allow-remote]\n"
           "                       [--task-timeout SECONDS] [--dense-image-size PIXELS]\n"
           "                       [--upload-idle SECONDS] [--upload-min-rate BYTES]\n"
           "                       [--upload-rate-window SECONDS] [--max-connections N]\n"
           "                       [--max-connections-per-address N]\n"
           "                       [--runner local|slurm] [--slurm-bin DIR] [--slurm-partition NAME]\n"
           "                       [--slurm-option ARG]... [--slurm-mvs-option ARG]...\n"
           "                       [--slurm-poll MILLISECONDS]\n"
           "       kestrix-service --run-task TASK_DIR   (the worker a cluster job runs)\n"
           "engines: " +
           engines + "\n";
}

Options parseOptions(const std::vector<std::string>& args) {
    Options o;
    o.engine = colmapFound() ? "colmap" : "test";
    bool maxTasksGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) {
                throw UsageError(a + " needs a value");
            }
            return args[++i];
        };
        if (a == "--listen") {
            parseListen(value(), o);
        } else if (a == "--data-dir") {
            o.dataDir = value();
        } else if (a == "--engine") {
            o.engine = value();
            // By name: making an engine here would run its start-up checks before the usage is known good.
            const auto names = engineNames();
            if (std::find(names.begin(), names.end(), o.engine) == names.end()) {
                throw UsageError("unknown engine \"" + o.engine + "\"");
            }
        } else if (a == "--fault") {
            const std::string& f = value();
            if (!faultByName(f)) {
                throw UsageError("unknown fault \"" + f + "\"");
            }
            o.faults.push_back(f);
        } else if (a == "--cert") {
            o.certFile = value();
        } else if (a == "--key") {
            o.keyFile = value();
        } else if (a == "--ca") {
            o.caFile = value();
        } else if (a == "--max-tasks") {
            o.maxTasks = parsePositive(a, value(), 256);
            maxTasksGiven = true;
        } else if (a == "--runner") {
            o.runner = value();
            if (o.runner != "local" && o.runner != "slurm") {
                throw UsageError("--runner is local or slurm, not \"" + o.runner + "\"");
            }
        } else if (a == "--slurm-bin") {
            o.slurmBin = value();
        } else if (a == "--slurm-partition") {
            o.slurmPartition = value();
        } else if (a == "--slurm-option") {
            o.slurmOptions.push_back(value());
        } else if (a == "--slurm-mvs-option") {
            o.slurmMvsOptions.push_back(value());
        } else if (a == "--slurm-poll") {
            o.slurmPoll = std::chrono::milliseconds(parsePositive(a, value(), 600000));
        } else if (a == "--max-body") {
            o.maxBody = parseNumber(a, value(), UINT64_MAX);
        } else if (a == "--max-store") {
            o.maxStore = parseNumber(a, value(), UINT64_MAX);
        } else if (a == "--keep-results") {
            o.keepResultsDays = static_cast<uint32_t>(parseNumber(a, value(), 36500));
        } else if (a == "--task-timeout") {
            o.taskTimeout = static_cast<uint32_t>(parseNumber(a, value(), 30 * 24 * 3600));
        } else if (a == "--dense-image-size") {
            o.denseImageSize = static_cast<uint32_t>(parseNumber(a, value(), 16384));
            if (o.denseImageSize < 64) {
                throw UsageError("--dense-image-size needs at least 64 pixels");
            }
        } else if (a == "--upload-idle") {
            o.uploadIdle = std::chrono::seconds(parsePositive(a, value(), 24 * 3600));
        } else if (a == "--upload-min-rate") {
            o.uploadMinRate = parseNumber(a, value(), UINT64_MAX);
        } else if (a == "--upload-rate-window") {
            o.uploadRateWindow = std::chrono::seconds(parsePositive(a, value(), 24 * 3600));
        } else if (a == "--max-connections") {
            o.maxConnections = parsePositive(a, value(), 1 << 20);
        } else if (a == "--max-connections-per-address") {
            o.maxConnectionsPerAddress = parsePositive(a, value(), 1 << 20);
        } else if (a == "--allow-remote") {
            o.allowRemote = true;
        } else {
            throw UsageError("unknown option \"" + a + "\"");
        }
    }
    if (!maxTasksGiven && o.runner == "slurm") {
        o.maxTasks = kDefaultSlurmJobs;
    }
    if (o.certFile.empty() != o.keyFile.empty()) {
        throw UsageError("--cert and --key go together");
    }
    if (!isLoopbackHost(o.host) && !o.allowRemote) {
        throw UsageError("listening on " + o.host + " needs --allow-remote (sessions are not authenticated)");
    }
    if (!o.caFile.empty() && o.certFile.empty()) {
        throw UsageError("--ca needs --cert and --key");
    }
    return o;
}

}  // namespace kxservice
