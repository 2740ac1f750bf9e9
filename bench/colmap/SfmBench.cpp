// The SfM task of the colmap engine on the lund photographs with the settings the client proposes for
// them (F1D5, 10,000 features, upsampling left to the engine, no location priors, ordered):
// - seconds per registered photograph of each step, for each count given, and how the time per
//   photograph of the largest count compares with the smallest (the cost must stay flat);
// - the engine's own time (its wall time minus its colmap subprocesses), under 10 % of theirs;
// - the whole task against the previous pipeline measured in the same run on the largest count:
//   every image doubled, colmap's sequential matcher, the default mapper and then the relaxed one.
//
//   bench_colmap_sfm LUND_FOLDER [--optics CODE] [--fixed] [--no-baseline] [COUNT...=16 29]
//   (KX_BENCH_KEEP=1 keeps the task folders)
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "service/Engine.h"
#include "service/TaskContext.h"
#include "service/colmap/SubModels.h"
#include "vexkit/Md5.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string readWhole(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

double number(const std::string& json, const std::string& key) {
    const size_t at = json.find("\"" + key + "\": ");
    return at == std::string::npos ? -1 : std::atof(json.c_str() + at + key.size() + 4);
}

std::string imageName(int i) {
    char name[16];
    std::snprintf(name, sizeof name, "%02d.jpg", i);
    return name;
}

std::filesystem::path taskDir(const std::string& what) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("kx-bench-colmap-" + what + "-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    return dir;
}

void dropUnlessKept(const std::filesystem::path& dir) {
    if (std::getenv("KX_BENCH_KEEP")) {
        std::printf("  task folder kept: %s\n", dir.c_str());
    } else {
        std::filesystem::remove_all(dir);
    }
}

struct Run {
    double wall = 0;
    double registered = 0;
};

struct Choice {
    std::string code = "F1D5";
    bool fixed = false;
};

Run runEngine(const std::filesystem::path& lund, int nbImages, const Choice& choice) {
    const auto dir = taskDir(std::to_string(nbImages));
    kxservice::SfmJob job;
    // 35 mm equivalent focal length 35 on a 1024 x 768 image.
    job.cfg.cameras.push_back({1024, 768, 1035.44f, 1035.44f, 512, 384, 0, 0, 0, 0, 0});
    job.cfg.settings = SfmCfg::Settings{choice.code, choice.fixed, "Global", 10000, false, false, false};
    std::unordered_map<FileKey, std::filesystem::path> inputs;
    for (int i = 1; i <= nbImages; ++i) {
        SfmCfg::Image image;
        image.key = FileKey(md5sumHex((lund / imageName(i)).c_str()));
        image.name = (lund / imageName(i)).string();
        job.cfg.images.push_back(image);
        inputs[image.key] = lund / imageName(i);
    }
    std::atomic<bool> cancel{false};
    kxservice::TaskContext context(
        dir, inputs, [](float) {}, cancel);
    kxservice::EngineOptions options;
    options.taskTimeout = 7200;  // a measurement, not a service: a busy machine must not end it
    const auto engine = kxservice::makeColmapEngine(options);
    const auto start = Clock::now();
    try {
        engine->runSfm(job, context);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "task failed: %s (log %s)\n", e.what(), context.logFile().c_str());
        std::exit(1);
    }
    Run run{std::chrono::duration<double>(Clock::now() - start).count(), 0};

    double subprocesses = 0;
    std::ifstream log(context.logFile());
    for (std::string line; std::getline(log, line);) {
        const size_t at = line.find(" took ");
        if (line.find(" subprocess ") != std::string::npos && at != std::string::npos) {
            subprocesses += std::stod(line.substr(at + 6));
        }
    }
    const std::string report = readWhole(dir / "report.json");
    run.registered = number(report, "registeredImages");
    std::printf(
        "%s%s, %d images: %.0f registered, %.0f pairs, mean reprojection error %.3f px, wall %.1f s\n",
        choice.code.c_str(), choice.fixed ? " fixed" : "", nbImages, run.registered,
        number(report, "imagePairs"), number(report, "meanReprojectionError"), run.wall);
    std::printf("  seconds per registered photograph:");
    for (const char* step : {"extraction", "matching", "mapping", "refinement", "alignment", "total"}) {
        std::printf(" %s %.2f", step, number(report, step) / std::max(1.0, run.registered));
    }
    std::printf("\n  engine overhead %.3f s = %.2f %% of the subprocess time (limit 10 %%)\n",
                run.wall - subprocesses, 100 * (run.wall - subprocesses) / subprocesses);
    dropUnlessKept(dir);
    return run;
}

// The pipeline this engine replaced, as its colmap commands.
Run runBaseline(const std::filesystem::path& lund, int nbImages) {
    const auto dir = taskDir("baseline");
    std::filesystem::create_directories(dir / "images");
    for (int i = 1; i <= nbImages; ++i) {
        std::filesystem::create_symlink(lund / imageName(i), dir / "images" / imageName(i));
    }
    const std::string db = " --database_path " + (dir / "colmap.db").string();
    const std::string mapper = "colmap mapper" + db + " --image_path " + (dir / "images").string() +
                               " --Mapper.num_threads 2 --Mapper.ba_refine_extra_params 1 --output_path ";
    const std::vector<std::string> commands{
        "colmap feature_extractor" + db + " --image_path " + (dir / "images").string() +
            " --ImageReader.single_camera 1 --ImageReader.camera_model RADIAL"
            " --ImageReader.camera_params 1035.44,512,384,0,0 --SiftExtraction.use_gpu 0"
            " --SiftExtraction.num_threads 2 --SiftExtraction.max_image_size 2000"
            " --SiftExtraction.max_num_features 10000 --SiftExtraction.first_octave -1",
        "colmap sequential_matcher" + db + " --SiftMatching.use_gpu 0 --SiftMatching.num_threads 2",
        "mkdir -p " + (dir / "sparse").string() + " && " + mapper + (dir / "sparse").string(),
        "mkdir -p " + (dir / "relaxed").string() + " && " + mapper + (dir / "relaxed").string() +
            " --Mapper.init_max_forward_motion 0.999 --Mapper.init_min_tri_angle 4"
            " --Mapper.tri_ignore_two_view_tracks 0 --Mapper.abs_pose_min_num_inliers 15"
            " --Mapper.min_model_size 3"};
    const auto start = Clock::now();
    for (const std::string& command : commands) {
        // The default mapper ends with an error when it finds no model, as it did there.
        if (std::system((command + " >> " + (dir / "colmap.log").string() + " 2>&1").c_str()) != 0 &&
            command.find(" mapper ") == std::string::npos) {
            std::fprintf(stderr, "baseline failed: %s\n", command.c_str());
            std::exit(1);
        }
    }
    Run run{std::chrono::duration<double>(Clock::now() - start).count(), 0};
    for (const char* output : {"sparse", "relaxed"}) {
        if (const auto best = kxcolmap::largestSubModel(dir / output)) {
            run.registered = std::max(run.registered, double(best->size.nbImages));
        }
    }
    std::printf("previous pipeline, %d images: %.0f registered, wall %.1f s\n", nbImages, run.registered,
                run.wall);
    dropUnlessKept(dir);
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s LUND_FOLDER [COUNT...]\n", argv[0]);
        return 2;
    }
    const std::filesystem::path lund = argv[1];
    std::vector<int> counts;
    Choice choice;
    bool baseline = true;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--optics" && i + 1 < argc) {
            choice.code = argv[++i];
        } else if (arg == "--fixed") {
            choice.fixed = true;
        } else if (arg == "--no-baseline") {
            baseline = false;
        } else {
            counts.push_back(std::atoi(argv[i]));
        }
    }
    if (counts.empty()) {
        counts = {16, 29};
    }
    std::vector<Run> runs;
    for (int count : counts) {
        runs.push_back(runEngine(lund, count, choice));
    }
    const auto perPhotograph = [](const Run& run) { return run.wall / std::max(1.0, run.registered); };
    if (runs.size() > 1) {
        std::printf("time per registered photograph at %d images / at %d: %.2f (limit 1.3)\n", counts.back(),
                    counts.front(), perPhotograph(runs.back()) / perPhotograph(runs.front()));
    }
    if (baseline) {
        const Run previous = runBaseline(lund, counts.back());
        std::printf("whole task at %d images / previous pipeline: %.2f (%.1f s against %.1f s)\n",
                    counts.back(), runs.back().wall / previous.wall, runs.back().wall, previous.wall);
    }
    return 0;
}
