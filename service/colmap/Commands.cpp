#include "service/colmap/Commands.h"

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

Args extractorArgs(const TaskLayout& layout, size_t group, const SfmCfg::Camera& camera,
                   const OpticModel& model, const SfmCfg::Settings& settings, const RunOptions& options) {
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
    if (settings.siftUpsample) {
        // The first octave at -1 doubles the image before the first scale.
        args.insert(args.end(), {"--SiftExtraction.first_octave", *settings.siftUpsample ? "-1" : "0"});
    }
    return args;
}

Args matcherArgs(const TaskLayout& layout, const SfmCfg::Settings& settings, const RunOptions& options) {
    const bool unordered = settings.unordered.value_or(false);
    return {unordered ? "exhaustive_matcher" : "sequential_matcher",
            "--database_path",
            layout.database().string(),
            "--SiftMatching.use_gpu",
            "0",
            "--SiftMatching.num_threads",
            std::to_string(options.nbThreads)};
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
                                 "--Mapper.min_model_size", "3"});
    }
    // clang-format on
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
