#include "service/Runners.h"

#include <algorithm>
#include <stdexcept>

#include "service/Faults.h"
#include "service/LocalRunner.h"
#include "service/slurm/SlurmRunner.h"

namespace kxservice {

std::unique_ptr<TaskRunner> makeRunner(const Options& o, const std::filesystem::path& dataDir) {
    EngineOptions engineOptions{dataDir, o.taskTimeout, o.denseImageSize};
    engineOptions.incompleteAlignments =
        unsigned(std::count(o.faults.begin(), o.faults.end(), faultName(Fault::kIncompleteAlignment)));
    if (o.runner == "slurm") {
        // The engine is made on each node by the worker: this machine need not run it.
        slurm::Settings s;
        // Absolute: the tools run with the scratch directory as theirs.
        s.binDir = o.slurmBin.empty() ? o.slurmBin : std::filesystem::absolute(o.slurmBin);
        s.partition = o.slurmPartition;
        s.options = o.slurmOptions;
        s.mvsOptions = o.slurmMvsOptions;
        s.poll = o.slurmPoll;
        s.worker = std::filesystem::read_symlink("/proc/self/exe");
        s.engine = o.engine;
        s.engineOptions = engineOptions;
        return std::make_unique<slurm::SlurmRunner>(std::move(s), dataDir / "runner");
    }
    std::unique_ptr<Engine> engine = makeEngine(o.engine, engineOptions);
    if (!engine) {
        throw std::runtime_error("unknown engine " + o.engine);
    }
    return std::make_unique<LocalRunner>(std::move(engine));
}

}  // namespace kxservice
