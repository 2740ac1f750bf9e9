#include "service/colmap/Commands.h"

#include <algorithm>
#include <cmath>

namespace kxcolmap {
namespace {

std::string flag(bool on) {
    return on ? "1" : "0";
}

bool usableIntrinsics(const SfmCfg::Camera& c) {
    for (float v : {c.fx, c.fy, c.cx, c.cy, c.k1, c.k2, c.p1, c.p2, c.k3}) {
        if (!std::isfinite(v)) {
            return false;
        }
    }
    return c.fx > 0 && c.fy > 0;
}

}  // namespace

bool upsampleFor(const SfmCfg::Camera& camera, const RunOptions& options) {
    const double longest = std::max(camera.width, camera.height);
    const double scale = longest > options.maxImageSize ? options.maxImageSize / longest : 1.0;
    return double(camera.width) * camera.height * scale * scale <= kUpsampleMaxPixels;
}

Args extractorArgs(const TaskLayout& layout, size_t group, const SfmCfg::Camera& camera,
                   const OpticModel& model, const SfmCfg::Settings& settings, const RunOptions& options,
                   bool upsample) {
    // clang-format off
    Args args{"feature_extractor",
              "--database_path", layout.database().string(),
              "--image_path", layout.images().string(),
              "--image_list_path", layout.imageList(group).string(),
              "--ImageReader.single_camera", "1",
              "--ImageReader.camera_model", model.cameraModel,
              "--SiftExtraction.use_gpu", "0",
              "--SiftExtraction.num_threads", std::to_string(options.nbThreads),
              "--SiftExtraction.max_image_size", std::to_string(options.maxImageSize)};
    // clang-format on
    if (usableIntrinsics(camera)) {
        args.insert(args.end(), {"--ImageReader.camera_params", cameraParams(camera, model.cameraModel)});
    }
    if (settings.nbKPoints && *settings.nbKPoints > 0) {
        args.insert(args.end(), {"--SiftExtraction.max_num_features", std::to_string(*settings.nbKPoints)});
    }
    // The first octave at -1 doubles the image before the first scale.
    args.insert(args.end(), {"--SiftExtraction.first_octave", upsample ? "-1" : "0"});
    return args;
}

Args importerArgs(const TaskLayout& layout, const RunOptions& options) {
    // clang-format off
    return {"matches_importer",
            "--database_path", layout.database().string(),
            "--match_list_path", layout.pairs().string(),
            "--match_type", "pairs",
            "--SiftMatching.use_gpu", "0",
            "--SiftMatching.num_threads", std::to_string(options.nbThreads)};
    // clang-format on
}

Args vocabularyArgs(const TaskLayout& layout, const std::filesystem::path& tree, size_t nbWords) {
    // clang-format off
    return {"vocab_tree_builder",
            "--database_path", layout.database().string(),
            "--vocab_tree_path", tree.string(),
            "--num_visual_words", std::to_string(nbWords),
            // Clustering costs grow with the descriptors: a sample of the images and few iterations
            // give words good enough to propose neighbours, in minutes rather than hours.
            "--max_num_images", "60",
            "--num_iterations", "5"};
    // clang-format on
}

Args retrievalArgs(const TaskLayout& layout, const std::filesystem::path& tree, size_t nbImages) {
    // clang-format off
    return {"vocab_tree_retriever",
            "--database_path", layout.database().string(),
            "--vocab_tree_path", tree.string(),
            "--query_image_list_path", layout.queries().string(),
            "--num_images", std::to_string(nbImages)};
    // clang-format on
}

Args adjusterArgs(const TaskLayout& layout, const OpticModel& model) {
    // clang-format off
    return {"bundle_adjuster",
            "--input_path", layout.refineInput().string(),
            "--output_path", layout.refined().string(),
            "--BundleAdjustment.refine_focal_length", flag(model.refineFocal),
            "--BundleAdjustment.refine_principal_point", flag(model.refinePrincipalPoint),
            "--BundleAdjustment.refine_extra_params", flag(model.refineExtraParams)};
    // clang-format on
}

Args mapperArgs(const TaskLayout& layout, const OpticModel& model, bool relaxed, const RunOptions& options) {
    // clang-format off
    Args args{"mapper",
              "--database_path", layout.database().string(),
              "--image_path", layout.images().string(),
              "--output_path", layout.sparse(relaxed).string(),
              "--Mapper.num_threads", std::to_string(options.nbThreads),
              "--Mapper.ba_refine_focal_length", flag(model.refineFocal),
              "--Mapper.ba_refine_principal_point", flag(model.refinePrincipalPoint),
              "--Mapper.ba_refine_extra_params", flag(model.refineExtraParams)};
    if (relaxed) {
        args.insert(args.end(), {"--Mapper.init_max_forward_motion", "0.999",
                                 "--Mapper.init_min_tri_angle", "4",
                                 "--Mapper.tri_ignore_two_view_tracks", "0",
                                 "--Mapper.abs_pose_min_num_inliers", "15",
                                 "--Mapper.min_model_size", "3",
                                 // Points near the direction of travel see the walk at small angles:
                                 // kept, they let the next photographs register.
                                 "--Mapper.tri_min_angle", "0.5",
                                 "--Mapper.filter_min_tri_angle", "0.5"});
    }
    // clang-format on
    return args;
}

Args continuationArgs(const TaskLayout& layout, const OpticModel& model, const std::filesystem::path& input,
                      const RunOptions& options, int round) {
    Args args = mapperArgs(layout, model, true, options);
    const auto set = [&args](const std::string& option, const std::string& value) {
        const auto it = std::find(args.begin(), args.end(), option);
        if (it == args.end()) {
            args.insert(args.end(), {option, value});
        } else {
            *std::next(it) = value;
        }
    };
    set("--output_path", layout.continued(round).string());
    set("--input_path", input.string());
    set("--Mapper.abs_pose_min_num_inliers", "10");
    set("--Mapper.abs_pose_min_inlier_ratio", "0.1");
    set("--Mapper.max_reg_trials", "10");
    return args;
}

Args alignerArgs(const std::filesystem::path& input, const TaskLayout& layout, double maxError) {
    char error[32];
    std::snprintf(error, sizeof error, "%.6g", maxError);
    return {"model_aligner",
            "--input_path",
            input.string(),
            "--output_path",
            layout.aligned().string(),
            "--ref_images_path",
            layout.references().string(),
            "--ref_is_gps",
            "0",
            "--robust_alignment",
            "1",
            "--robust_alignment_max_error",
            error};
}

Args converterArgs(const std::filesystem::path& input, const std::filesystem::path& output) {
    return {"model_converter", "--input_path",  input.string(), "--output_path",
            output.string(),   "--output_type", "TXT"};
}

Args undistorterArgs(const DenseLayout& layout, const RunOptions& options) {
    return {"image_undistorter",
            "--image_path",
            layout.images().string(),
            "--input_path",
            layout.sparse().string(),
            "--output_path",
            layout.workspace().string(),
            "--output_type",
            "COLMAP",
            "--max_image_size",
            std::to_string(options.denseImageSize)};
}

Args patchMatchArgs(const DenseLayout& layout) {
    return {"patch_match_stereo",
            "--workspace_path",
            layout.workspace().string(),
            "--workspace_format",
            "COLMAP",
            "--PatchMatchStereo.geom_consistency",
            "true"};
}

Args fusionArgs(const DenseLayout& layout, int minNumPixels, const RunOptions& options) {
    // clang-format off
    return {"stereo_fusion",
            "--workspace_path", layout.workspace().string(),
            "--workspace_format", "COLMAP",
            "--input_type", "geometric",
            "--output_type", "PLY",
            "--output_path", layout.cloud().string(),
            "--StereoFusion.num_threads", std::to_string(options.nbThreads),
            "--StereoFusion.min_num_pixels", std::to_string(minNumPixels),
            "--StereoFusion.max_normal_error", "20"};
    // clang-format on
}

}  // namespace kxcolmap
