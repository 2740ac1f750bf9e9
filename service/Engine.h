#pragma once
// The interface between the service and the programs that compute a task. An engine turns stored input
// files into result files inside the task directory; the service does everything else (storage,
// stages, transfers, clean-up). One engine object serves every task of the service, so runSfm and
// runMvs may run at once on several worker threads (up to --max-tasks) and must keep no per-task state
// in the object.
//
// Adding an engine: implement Engine, and add one row {name, factory} to the table in
// service/Engines.cpp; `--engine NAME` selects it.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/SfmCfg.h"
#include "model/KsmModel.h"
#include "service/TaskContext.h"
#include "vexkit/FileKey.h"
#include "vexkit/FileType.h"

namespace kxservice {

// An SfM task: the configuration as read (already checked: every image is stored and every idxCam is in
// range). context.inputPath(cfg.images[i].key) is where image i lies.
struct SfmJob {
    FileKey configKey;
    SfmCfg cfg;
};

// An MVS task: the version-1 sparse model as read and the keys of its images in capture order (every
// one stored). context.inputPath(ksmKey) is the sparse model file itself.
struct MvsJob {
    FileKey ksmKey;
    ksm::Model<1u> model;
    std::vector<FileKey> images;
};

// A file the engine wrote inside context.dir(). The service hashes it and hands it out; hModel names
// SfM results on the client (ignored for MVS results).
struct ResultFile {
    std::filesystem::path path;
    FileType type = FileType::kKsm;
    uint32_t hModel = 0;
};

class Engine {
public:
    virtual ~Engine() = default;

    // Whether runMvs is supported; when false, a kLaunchMvsTask is refused with mvsErr carrying
    // refusalOfMvs().
    virtual bool canDensify() const = 0;
    virtual std::string refusalOfMvs() const { return "this engine cannot densify point clouds"; }

    // Run on a worker thread. Return the result files (at least one) or throw an exception whose
    // what() is the reason the task failed (it reaches the client and the task log). Check
    // context.cancelled() between steps and return or throw soon when it is set; subprocesses started
    // through context.run() are ended by the service on cancellation.
    virtual std::vector<ResultFile> runSfm(const SfmJob& job, TaskContext& context) = 0;
    virtual std::vector<ResultFile> runMvs(const MvsJob& job, TaskContext& context) = 0;
};

// What the command line passes to an engine's factory.
struct EngineOptions {
    std::filesystem::path dataDir;      // the service's data directory (an engine may keep a cache below it)
    unsigned taskTimeout = 0;           // --task-timeout SECONDS for a whole task; 0: the engine's default
    unsigned denseImageSize = 0;        // --dense-image-size PIXELS; 0: the engine's default
    unsigned incompleteAlignments = 0;  // --fault incomplete-alignment occurrences (the test engine's)
};

using EngineFactory = std::function<std::unique_ptr<Engine>(const EngineOptions&)>;

// The engine of that name, or null when none is known.
std::unique_ptr<Engine> makeEngine(const std::string& name, const EngineOptions& options);
// Names of the known engines, for the usage text.
std::vector<std::string> engineNames();

// The deterministic, fast engine used by the tests (service/TestEngine.cpp).
std::unique_ptr<Engine> makeTestEngine(const EngineOptions& options);

// The engine that runs colmap (service/colmap/); its factory throws std::runtime_error when colmap does not
// run. The default engine is "colmap" when colmapFound() (an executable colmap in PATH), else "test".
std::unique_ptr<Engine> makeColmapEngine(const EngineOptions& options);
bool colmapFound();

}  // namespace kxservice
