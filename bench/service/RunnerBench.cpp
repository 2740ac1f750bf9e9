// 20 sessions launch one task of the test engine each at the same moment, on the local runner and, when a
// cluster answers (SLURM_CONF, scripts/slurm-test-cluster.sh), as cluster jobs. Printed per runner: the
// slowest first progress answer, the mean time from the launch answer to stage 5 and, for the cluster, the
// service's own part of it: from the launch answer to the job's submission plus from the worker's exit
// file to stage 5 (the job's queueing and run are the cluster's).
// Usage: bench_service_runner [sessions, default 20]
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <future>
#include <map>
#include <string>
#include <vector>

#include "service/TaskManager.h"
#include "tests/service/ServiceClient.h"
#include "tests/support/SlurmCluster.h"

namespace fs = std::filesystem;
using namespace user_proto;
using Wall = std::chrono::system_clock;

namespace {

double seconds(Wall::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The service log's "2026-12-06T20:15:03.123Z".
Wall::time_point parseStamp(const std::string& s) {
    std::tm tm{};
    int ms = 0;
    std::sscanf(s.c_str(), "%d-%d-%dT%d:%d:%d.%dZ", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
                &tm.tm_min, &tm.tm_sec, &ms);
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return Wall::from_time_t(timegm(&tm)) + std::chrono::milliseconds(ms);
}

// The time of the first log line holding text.
std::optional<Wall::time_point> loggedAt(const std::string& log, const std::string& text) {
    const size_t at = log.find(text);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    const size_t line = log.rfind('\n', at);
    return parseStamp(log.substr(line == std::string::npos ? 0 : line + 1, 24));
}

struct Run {
    TaskHandle task = 0;
    Wall::time_point answered;
    double firstProgress = 0;
    double toFinished = 0;
    bool finished = false;
};

void measure(const std::string& name, const std::string& options, int nbSessions) {
    const fs::path dir =
        fs::temp_directory_path() / ("kx-bench-runner-" + name + "-" + std::to_string(getpid()));
    fs::create_directories(dir);
    kxtest::ServiceProcess service(KX_SERVICE_BIN, dir / "data", options, dir / "log");
    if (service.port == 0) {
        std::printf("%s: the service did not start\n%s\n", name.c_str(),
                    kxtest::readFile(dir / "log").c_str());
        return;
    }
    std::vector<std::unique_ptr<kxtest::Client>> sessions;
    std::vector<FileKey> configs;
    for (int i = 0; i < nbSessions; ++i) {
        sessions.push_back(std::make_unique<kxtest::Client>(service.port, service.ca));
        const std::string label = name + std::to_string(i);
        configs.push_back(sessions.back()->upload(
            kxtest::configText({sessions.back()->upload("photograph " + label)}, 0, "/" + label)));
    }
    std::promise<void> go;
    std::shared_future<void> start = go.get_future().share();
    std::vector<std::future<Run>> runs;
    for (int i = 0; i < nbSessions; ++i) {
        runs.push_back(std::async(std::launch::async, [&, i] {
            start.wait();
            Run run;
            Request<kLaunchSfmTask> launch;
            launch.config = configs[size_t(i)];
            run.task = sessions[size_t(i)]->call(launch).hTask;
            run.answered = Wall::now();
            Request<kQueryProgress> progress;
            progress.hTask = run.task;
            for (int n = 0; n < 1000 && !run.finished; ++n) {
                const TaskStage stage = sessions[size_t(i)]->call(progress).status;
                if (n == 0) {
                    run.firstProgress = seconds(Wall::now() - run.answered);
                }
                run.finished = stage == TaskStage::kFinished;
                if (stage == TaskStage::kFailed) {
                    break;
                }
            }
            run.toFinished = seconds(Wall::now() - run.answered);
            Request<kGetSfmResults> results;  // collected: the task directory stays for the figures below
            results.hTask = run.task;
            sessions[size_t(i)]->call(results);
            return run;
        }));
    }
    go.set_value();
    double firstMax = 0, toFinished = 0, overhead = 0, overheadMax = 0;
    int nbFinished = 0, nbMeasured = 0;
    std::vector<Run> done;
    for (auto& r : runs) {
        done.push_back(r.get());
    }
    service.stop();
    const std::string log = kxtest::readFile(dir / "log");
    for (const Run& run : done) {
        firstMax = std::max(firstMax, run.firstProgress);
        nbFinished += run.finished;
        toFinished += run.toFinished;
        const std::string hex = kxservice::hex64(run.task);
        const auto submitted = loggedAt(log, "task " + hex + " is job ");
        const auto ended = loggedAt(log, "task " + hex + " ended in stage 5");
        struct stat st {};
        if (!submitted || !ended || ::stat((dir / "data" / "tasks" / hex / "exit").c_str(), &st) != 0) {
            continue;
        }
        const Wall::time_point exited =
            Wall::from_time_t(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec);
        const double own = seconds(*submitted - run.answered) + seconds(*ended - exited);
        overhead += own;
        overheadMax = std::max(overheadMax, own);
        ++nbMeasured;
    }
    std::printf(
        "%-6s %2d/%d finished  first progress answer at most %.3f s  launch answer to stage 5 %.3f s "
        "(mean)",
        name.c_str(), nbFinished, nbSessions, firstMax, toFinished / std::max(1, nbSessions));
    if (nbMeasured > 0) {
        std::printf("  service's own part %.3f s (mean), %.3f s (most)", overhead / nbMeasured, overheadMax);
    }
    std::printf("\n");
    std::error_code ec;
    fs::remove_all(dir, ec);
}

}  // namespace

int main(int argc, char** argv) {
    const int nbSessions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    // Each session has one task: the local runner runs them all at once, as the cluster may.
    measure("local", "--max-tasks " + std::to_string(nbSessions), nbSessions);
    if (!kxtest::slurmClusterUp()) {
        std::printf("slurm: no cluster answers (scripts/slurm-test-cluster.sh start DIR, then SLURM_CONF)\n");
        return 0;
    }
    measure("slurm", "--runner slurm", nbSessions);
    return 0;
}
