// The engine that runs colmap (the Debian package, CPU only) as subprocesses.
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <unistd.h>

#include "service/Engine.h"
#include "service/colmap/ColmapMvs.h"
#include "service/colmap/ColmapSfm.h"

namespace kxservice {
namespace {

// What `colmap help` says about its build, which decides whether dense stereo can run at all.
std::string probeBuild(const std::string& program) {
    const auto dir = std::filesystem::temp_directory_path();
    const auto log = dir / ("kx-colmap-probe-" + std::to_string(getpid()) + ".txt");
    std::string text;
    try {
        const SubprocessResult r =
            runSubprocess({{program, "help"}, dir, log, std::chrono::seconds(30), nullptr});
        std::ifstream in(log);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!r.ok()) {
            text.clear();
        }
    } catch (const std::runtime_error&) {
    }
    std::error_code ec;
    std::filesystem::remove(log, ec);
    return text;
}

class ColmapEngine final : public Engine {
public:
    ColmapEngine(const EngineOptions& options, const std::string& build) {
        mRun.nbThreads = std::max(1u, std::thread::hardware_concurrency());
        mRun.taskTimeout = options.taskTimeout;
        if (!options.dataDir.empty()) {
            mRun.cacheDir = options.dataDir / "cache";
        }
        if (options.denseImageSize > 0) {
            mRun.denseImageSize = int(options.denseImageSize);
        }
        // A CUDA build runs its own dense stereo; any build densifies with our CPU stereo as long as it
        // has the undistorter and the fusion.
        mRun.cudaStereo = build.find("with CUDA") != std::string::npos;
        for (const char* command : {"image_undistorter", "stereo_fusion"}) {
            if (build.find(command) == std::string::npos) {
                mMvsRefusal += std::string(mMvsRefusal.empty() ? "" : "; ") + "the installed colmap has no " +
                               command + ", which densifying needs";
            }
        }
    }

    bool canDensify() const override { return mMvsRefusal.empty(); }
    std::string refusalOfMvs() const override { return mMvsRefusal; }

    std::vector<ResultFile> runSfm(const SfmJob& job, TaskContext& context) override {
        return kxcolmap::runSfm(job, context, mRun);
    }
    std::vector<ResultFile> runMvs(const MvsJob& job, TaskContext& context) override {
        return kxcolmap::runMvs(job, context, mRun);
    }

private:
    kxcolmap::RunOptions mRun;
    std::string mMvsRefusal;
};

}  // namespace

bool colmapFound() {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "";
    for (size_t begin = 0; begin <= dirs.size();) {
        const size_t end = std::min(dirs.find(':', begin), dirs.size());
        const std::filesystem::path dir = dirs.substr(begin, end - begin);
        if (!dir.empty() && access((dir / "colmap").c_str(), X_OK) == 0) {
            return true;
        }
        begin = end + 1;
    }
    return false;
}

std::unique_ptr<Engine> makeColmapEngine(const EngineOptions& options) {
    const std::string build = probeBuild("colmap");
    if (build.empty()) {
        throw std::runtime_error("the colmap engine needs the colmap program, which does not run from PATH");
    }
    return std::make_unique<ColmapEngine>(options, build);
}

}  // namespace kxservice
