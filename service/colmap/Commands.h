#pragma once
// The mapper program's command lines for one SfM task, built from the configuration's settings.
// Every argument vector starts with the program's subcommand; the caller puts the program first.
#include <filesystem>
#include <string>
#include <vector>

#include "config/SfmCfg.h"
#include "service/colmap/OpticModel.h"

namespace kxcolmap {

using Args = std::vector<std::string>;

struct RunOptions {
    std::string program = "colmap";  // looked up in PATH unless it is a path
    unsigned nbThreads = 1;          // the cores the subprocesses may use
    int maxImageSize = 2000;         // longest side the features are extracted at
    unsigned taskTimeout = 0;        // seconds for the whole task; 0: the task kind's own default
    int denseImageSize = 1600;       // longest side of the images that dense stereo works on
    bool cudaStereo = false;         // colmap's own dense stereo runs (a CUDA build)
    std::filesystem::path cacheDir;  // where retrieval vocabularies are kept; empty: in the task
};

// Where one task keeps its files, all inside the task's directory.
struct TaskLayout {
    std::filesystem::path dir;
    std::filesystem::path database() const { return dir / "colmap.db"; }
    std::filesystem::path images() const { return dir / "images"; }
    std::filesystem::path imageList(size_t group) const {
        return dir / ("group" + std::to_string(group) + ".txt");
    }
    std::filesystem::path pairs() const { return dir / "pairs.txt"; }
    std::filesystem::path queries() const { return dir / "queries.txt"; }
    std::filesystem::path sparse(bool relaxed) const { return dir / (relaxed ? "sparse-relaxed" : "sparse"); }
    std::filesystem::path continued(int round = 0) const {
        return round == 0 ? dir / "continued" : dir / ("continued-" + std::to_string(round));
    }
    std::filesystem::path refineInput() const { return dir / "refine-in"; }
    std::filesystem::path refined() const { return dir / "refined"; }
    std::filesystem::path refinedText() const { return dir / "refined-text"; }
    std::filesystem::path references() const { return dir / "locations.txt"; }
    std::filesystem::path aligned() const { return dir / "aligned"; }
    std::filesystem::path text() const { return dir / "text"; }
};

// Images of at most this many pixels, as the extractor reads them, are doubled before the first scale:
// smaller ones give too few features to hold a reconstruction together (1024 x 768 among them).
constexpr double kUpsampleMaxPixels = 1280.0 * 960.0;
bool upsampleFor(const SfmCfg::Camera& camera, const RunOptions& options);

// One camera per group: the group's images share a camera fed with the configured intrinsics (left out
// when they are unusable, so that the program estimates them from the image).
Args extractorArgs(const TaskLayout& layout, size_t group, const SfmCfg::Camera& camera,
                   const OpticModel& model, const SfmCfg::Settings& settings, const RunOptions& options,
                   bool upsample);

// Matching of the planned pairs (the pairs file's "NAME NAME" lines).
Args importerArgs(const TaskLayout& layout, const RunOptions& options);

// A retrieval vocabulary of nbWords words from the task's own features, and the retrieval of the
// nbImages most similar images for each image of the queries file.
Args vocabularyArgs(const TaskLayout& layout, const std::filesystem::path& tree, size_t nbWords);
Args retrievalArgs(const TaskLayout& layout, const std::filesystem::path& tree, size_t nbImages);

// The relaxed run accepts initial pairs with mostly forward motion and weaker geometry, which the
// defaults refuse on photographs taken walking or flying straight ahead, and keeps sub-models of three
// images or more (the defaults drop those under 80 % of the images or ten); it also keeps points seen
// at small triangulation angles, which a forward walk has most of.
Args mapperArgs(const TaskLayout& layout, const OpticModel& model, bool relaxed, const RunOptions& options);

// The relaxed mapper again, continuing the given model: it registers the images left out with fewer
// and weaker correspondences (where a walk turns a corner, the first run may stop short of its end).
// Round 0 writes to continued(), a later round to continued(round).
Args continuationArgs(const TaskLayout& layout, const OpticModel& model, const std::filesystem::path& input,
                      const RunOptions& options, int round = 0);

// Similarity alignment of a sub-model to the location priors (the reference file's "NAME X Y Z"
// lines, in the configuration's local frame), robust to priors off by more than maxError metres.
// The final bundle adjustment that frees the parameters of the optic model.
Args adjusterArgs(const TaskLayout& layout, const OpticModel& model);

Args alignerArgs(const std::filesystem::path& input, const TaskLayout& layout, double maxError);

Args converterArgs(const std::filesystem::path& input, const std::filesystem::path& output);

// Where one dense task keeps its files, all inside the task's directory.
struct DenseLayout {
    std::filesystem::path dir;
    std::filesystem::path images() const { return dir / "images"; }
    std::filesystem::path sparse() const { return dir / "sparse-in"; }
    std::filesystem::path workspace() const { return dir / "dense"; }
    std::filesystem::path undistorted() const { return dir / "dense-text"; }
    std::filesystem::path depthMap(const std::string& image) const {
        return workspace() / "stereo" / "depth_maps" / (image + ".geometric.bin");
    }
    std::filesystem::path normalMap(const std::string& image) const {
        return workspace() / "stereo" / "normal_maps" / (image + ".geometric.bin");
    }
    std::filesystem::path cloud() const { return dir / "dense.ply"; }
};

// The undistorted images, their pinhole model and the stereo folders, at most maxImageSize wide or high.
Args undistorterArgs(const DenseLayout& layout, const RunOptions& options);

// colmap's own dense stereo (CUDA builds only), with the geometric consistency pass that fusion reads.
Args patchMatchArgs(const DenseLayout& layout);

// Fusion of the geometric depth and normal maps into a coloured cloud. A fused point needs
// minNumPixels views, which must not exceed the views a point can have.
Args fusionArgs(const DenseLayout& layout, int minNumPixels, const RunOptions& options);

}  // namespace kxcolmap
