#include "service/colmap/ColmapSfm.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <stdexcept>

#include "model/KsmWriter.h"
#include "service/LaunchCheck.h"
#include "service/Limits.h"
#include "service/colmap/Alignment.h"
#include "service/colmap/InputImages.h"
#include "service/colmap/OpticModel.h"
#include "service/colmap/Runner.h"
#include "service/colmap/SfmSteps.h"
#include "vexkit/JsonText.h"

namespace kxcolmap {
namespace {

using Clock = std::chrono::steady_clock;

struct Prepared {
    std::vector<ImageSource> sources;                // sources[i] is cfg.images[i]
    std::map<uint32_t, std::vector<size_t>> groups;  // camera index to its images
};

Prepared prepareImages(const kxservice::SfmJob& job, kxservice::TaskContext& context,
                       const TaskLayout& layout) {
    std::filesystem::create_directories(layout.images());
    Prepared p;
    for (size_t i = 0; i < job.cfg.images.size(); ++i) {
        const SfmCfg::Image& img = job.cfg.images[i];
        ImageSource src{mapperName(i), img.name, digestFromHex(img.key.str())};
        placeImage(context.inputPath(img.key), FileType(img.format), layout.images() / src.mapperName);
        p.groups[img.idxCam].push_back(i);
        p.sources.push_back(std::move(src));
    }
    return p;
}

std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) {
        text += (text.empty() ? "" : ", ") + item;
    }
    return text.empty() ? "nothing" : text;
}

// The largest sub-model of the first run, continued when it left images out, or of the other
// initialisation when that registers more; every run shares the task's database.
SubModel mapImages(Runner& runner, kxservice::TaskContext& context, const TaskLayout& layout,
                   const OpticModel& optics, bool relaxedFirst, size_t nbImages) {
    std::optional<SubModel> best;
    const auto keep = [&](const std::optional<SubModel>& found, const std::string& what) {
        context.log(what + " registered " + std::to_string(found ? found->size.nbImages : 0) + " of " +
                    std::to_string(nbImages) + " images");
        if (found && (!best || best->size < found->size)) {
            best = found;
        }
        return best && best->size.nbImages >= nbImages;
    };
    std::filesystem::create_directories(layout.sparse(relaxedFirst));
    runner.run(mapperArgs(layout, optics, relaxedFirst, runner.options()), 0.65, 0.72, nbImages, true);
    if (keep(largestSubModel(layout.sparse(relaxedFirst)),
             relaxedFirst ? "relaxed mapping" : "default mapping")) {
        return *best;
    }
    // Continues the best model so far with weaker registration; true once every image is in.
    int round = 0;
    const auto continueBest = [&](double from, double to) {
        const std::filesystem::path out = layout.continued(round);
        std::filesystem::create_directories(out);
        runner.run(continuationArgs(layout, optics, best->dir, runner.options(), round++), from, to, nbImages,
                   true);
        const auto size = readSubModelSize(out);
        return keep(size ? std::optional<SubModel>(SubModel{out, *size}) : std::nullopt, "continued mapping");
    };
    if (best && continueBest(0.72, 0.77)) {
        return *best;
    }
    const std::optional<SubModel> before = best;
    std::filesystem::create_directories(layout.sparse(!relaxedFirst));
    runner.run(mapperArgs(layout, optics, !relaxedFirst, runner.options()), 0.77, 0.82, nbImages, true);
    if (keep(largestSubModel(layout.sparse(!relaxedFirst)),
             relaxedFirst ? "default mapping" : "relaxed mapping")) {
        return *best;
    }
    // The other initialisation found a larger start than any continued so far: it is continued too.
    if (best && (!before || before->dir != best->dir)) {
        continueBest(0.82, 0.84);
    }
    if (!best) {
        throw std::runtime_error("no model: colmap mapper registered no images, even with relaxed settings");
    }
    return *best;
}

// The aligned copy of the model when the priors allow it; the model itself otherwise.
std::filesystem::path align(Runner& runner, kxservice::TaskContext& context, const TaskLayout& layout,
                            const std::filesystem::path& model, const References& refs,
                            std::optional<AlignmentResult>& alignment) {
    if (refs.nbLocated < 3) {
        context.log("alignment skipped: " + std::to_string(refs.nbLocated) +
                    " located images (3 needed); the model stays in the mapper's frame");
        return model;
    }
    writeText(layout.references(), refs.text);
    std::filesystem::create_directories(layout.aligned());
    const auto offset = runner.logSize();
    runner.run(alignerArgs(model, layout, refs.maxError), 0.9, 0.95, 0);
    alignment = parseAlignment(runner.logSince(offset));
    if (!alignment || !alignment->succeeded || !readSubModelSize(layout.aligned())) {
        context.log("alignment to " + std::to_string(refs.nbLocated) +
                    " location priors failed; the model stays in the mapper's frame");
        alignment.reset();
        return model;
    }
    char line[160];
    std::snprintf(line, sizeof line, "aligned to %zu location priors: residual %.3f m mean, %.3f m median",
                  refs.nbLocated, alignment->meanError, alignment->medianError);
    context.log(line);
    return layout.aligned();
}

// Wall seconds of each step, in the report's order.
struct StepSeconds {
    double extraction = 0, matching = 0, mapping = 0, refinement = 0, alignment = 0, total = 0;
};

std::string reportJson(size_t nbImages, const TextModelSummary& summary,
                       const std::optional<AlignmentResult>& alignment, const MatchPlan& plan,
                       const StepSeconds& took) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "{\n    \"images\": %zu,\n    \"registeredImages\": %zu,\n    \"points\": %zu,\n"
                  "    \"observations\": %zu,\n    \"meanReprojectionError\": %.6g",
                  nbImages, summary.nbRegistered, summary.nbPoints, summary.nbMeasurements,
                  summary.meanReprojectionError);
    std::string json = text;
    if (alignment) {
        std::snprintf(text, sizeof text, ",\n    \"alignmentResidual\": %.6g", alignment->meanError);
        json += text;
    }
    std::snprintf(text, sizeof text, ",\n    \"imagePairs\": %zu,\n    \"unregistered\": [",
                  plan.pairs.size());
    json += text;
    for (size_t i = 0; i < summary.unregistered.size(); ++i) {
        json += (i == 0 ? "" : ", ") + vexkit::jsonQuoted(summary.unregistered[i]);
    }
    std::snprintf(text, sizeof text,
                  "],\n    \"seconds\": {\"extraction\": %.3f, \"matching\": %.3f, \"mapping\": %.3f, "
                  "\"refinement\": %.3f, \"alignment\": %.3f, \"total\": %.3f},\n    \"plan\": ",
                  took.extraction, took.matching, took.mapping, took.refinement, took.alignment, took.total);
    return json + text + planJson(plan) + "\n}\n";
}

double since(Clock::time_point& mark) {
    const auto now = Clock::now();
    const double s = std::chrono::duration<double>(now - mark).count();
    mark = now;
    return s;
}

}  // namespace

unsigned taskSeconds(const RunOptions& options, size_t nbImages) {
    return options.taskTimeout > 0 ? options.taskTimeout
                                   : unsigned(kxservice::limits::taskSeconds(
                                         kxservice::limits::kTaskBaseSeconds,
                                         kxservice::limits::kSfmSecondsPerPhotograph, nbImages));
}

std::vector<kxservice::ResultFile> runSfm(const kxservice::SfmJob& job, kxservice::TaskContext& context,
                                          const RunOptions& options) {
    const auto start = Clock::now();
    const SfmCfg& cfg = job.cfg;
    const size_t nbImages = cfg.images.size();
    if (nbImages == 0) {
        throw std::runtime_error("the configuration names no images");
    }
    const SfmCfg::Settings settings = cfg.settings.value_or(SfmCfg::Settings{});
    const std::string code = settings.opticModel.value_or("F1D2");
    const bool fixedOptics = settings.fixedOptics.value_or(false);
    // Time comes from distinct photographs: listing one many times buys none.
    std::vector<FileKey> keys;
    for (const SfmCfg::Image& img : cfg.images) {
        keys.push_back(img.key);
    }
    const unsigned limit = taskSeconds(options, kxservice::countDistinct(std::move(keys)));
    Runner runner(context, options, limit);
    const TaskLayout layout{context.dir()};
    context.log("colmap engine: " + std::to_string(nbImages) + " images, optic model " + code +
                (fixedOptics ? ", fixed optics" : "") + ", task limit " + std::to_string(limit) + " s");

    const Prepared prepared = prepareImages(job, context, layout);
    StepSeconds took;
    auto mark = Clock::now();
    // The refinement switches hold for every camera; only the model of each group may differ.
    std::optional<StagedOptics> staged;
    size_t nbDone = 0;
    for (const auto& [idxCam, images] : prepared.groups) {
        const SfmCfg::Camera& camera = cfg.cameras.at(idxCam);
        const StagedOptics optics = stagedOptics(code, fixedOptics, hasDistortion(camera));
        staged = staged.value_or(optics);
        const OpticModel& last = optics.refined ? *optics.refined : optics.mapping;
        context.log("camera " + std::to_string(idxCam) + ": " + std::to_string(images.size()) +
                    " images, model " + last.cameraModel + ", refined: " + joined(last.refined) +
                    (last.note.empty() ? "" : " (" + last.note + ")") +
                    (optics.refined ? "; mapped as " + optics.mapping.cameraModel + " refining " +
                                          joined(optics.mapping.refined) + " first"
                                    : ""));
        const bool upsample = upsampleFor(camera, options);
        context.log("camera " + std::to_string(idxCam) + ": " + std::to_string(camera.width) + " x " +
                    std::to_string(camera.height) + " pixels, " +
                    (upsample ? "doubled before extraction (at most 1280 x 960 pixels are)"
                              : "extracted as it is (above 1280 x 960 pixels)"));
        std::string list;
        for (size_t i : images) {
            list += prepared.sources[i].mapperName + "\n";
        }
        writeText(layout.imageList(idxCam), list);
        const double lo = 0.3 * double(nbDone) / double(nbImages);
        nbDone += images.size();
        runner.run(extractorArgs(layout, idxCam, camera, optics.mapping, settings, options, upsample), lo,
                   0.3 * double(nbDone) / double(nbImages), 0);
    }
    took.extraction = since(mark);
    const MatchPlan plan = matchImages(runner, context, layout, cfg, prepared.sources, 0.3, 0.65);
    took.matching = since(mark);
    const bool relaxed = relaxedFirst(cfg, plan);
    context.log(std::string("mapping starts with the ") + (relaxed ? "relaxed" : "default") +
                " initialisation");
    const SubModel best = mapImages(runner, context, layout, staged->mapping, relaxed, nbImages);
    took.mapping = since(mark);
    std::filesystem::path chosen = best.dir;
    if (staged->refined) {
        chosen = refineIntrinsics(runner, context, layout, best, *staged->refined, prepared.sources);
    }
    took.refinement = since(mark);

    std::optional<AlignmentResult> alignment;
    if (settings.useGps.value_or(true)) {
        chosen = align(runner, context, layout, chosen, makeReferences(cfg, prepared.sources), alignment);
    }
    took.alignment = since(mark);
    std::filesystem::create_directories(layout.text());
    runner.run(converterArgs(chosen, layout.text()), 0.95, 0.98, 0);

    TextModelSummary summary;
    ksm::Model<1u> model = readTextModel(layout.text(), prepared.sources, &summary);
    // Computed from the model: the errors colmap stores are stale after its bundle adjuster.
    summary.meanReprojectionError = meanReprojectionError(model);
    for (const std::string& path : summary.unregistered) {
        context.log("not registered: " + path);
    }
    char line[200];
    std::snprintf(line, sizeof line,
                  "model: %zu of %zu images registered, %zu points, mean reprojection error %.3f px",
                  summary.nbRegistered, nbImages, summary.nbPoints, summary.meanReprojectionError);
    context.log(line);
    took.total = std::chrono::duration<double>(Clock::now() - start).count();
    std::snprintf(line, sizeof line,
                  "seconds: extraction %.1f, matching %.1f (%zu pairs), mapping %.1f, refinement %.1f, "
                  "alignment %.1f",
                  took.extraction, took.matching, plan.pairs.size(), took.mapping, took.refinement,
                  took.alignment);
    context.log(line);

    const std::filesystem::path ksmPath = context.dir() / "0.ksm";
    const std::filesystem::path reportPath = context.dir() / "report.json";
    ksm::writeKsm(ksmPath, KestrixSparseModel(std::move(model)));
    writeText(reportPath, reportJson(nbImages, summary, alignment, plan, took));
    context.progress(1);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    context.log("engine wall time " + seconds(wall) + ", subprocesses " +
                seconds(runner.subprocessSeconds()));
    // The report carries its model's handle, so that the client stores it beside the model.
    return {{ksmPath, FileType::kKsm, 0}, {reportPath, FileType::kJson, 0}};
}

}  // namespace kxcolmap
