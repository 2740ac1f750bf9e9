#include "service/colmap/ColmapSfm.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <stdexcept>

#include "model/KsmWriter.h"
#include "service/colmap/Alignment.h"
#include "service/colmap/InputImages.h"
#include "service/colmap/OpticModel.h"
#include "service/colmap/Runner.h"
#include "service/colmap/SubModels.h"
#include "service/colmap/TextModel.h"

namespace kxcolmap {
namespace {

using Clock = std::chrono::steady_clock;

std::string readFrom(const std::filesystem::path& path, std::uintmax_t offset) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(std::streamoff(offset));
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

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

// The largest sub-model of the default run, or of the relaxed retry when that registers more.
SubModel mapImages(Runner& runner, kxservice::TaskContext& context, const TaskLayout& layout,
                   const OpticModel& optics, const RunOptions& options, size_t nbImages) {
    std::optional<SubModel> best;
    for (const bool relaxed : {false, true}) {
        std::filesystem::create_directories(layout.sparse(relaxed));
        runner.run(mapperArgs(layout, optics, relaxed, options), relaxed ? 0.8 : 0.7, relaxed ? 0.9 : 0.8,
                   nbImages, true);
        const auto found = largestSubModel(layout.sparse(relaxed));
        context.log(std::string(relaxed ? "relaxed" : "default") + " mapping registered " +
                    std::to_string(found ? found->size.nbImages : 0) + " of " + std::to_string(nbImages) +
                    " images");
        if (found && (!best || best->size < found->size)) {
            best = found;
        }
        if (best && best->size.nbImages >= nbImages) {
            break;
        }
    }
    if (!best) {
        throw std::runtime_error("no model: colmap mapper registered no images, even with relaxed settings");
    }
    return *best;
}

// The aligned copy of the model when the priors allow it; the model itself otherwise.
std::filesystem::path align(Runner& runner, kxservice::TaskContext& context, const TaskLayout& layout,
                            const SubModel& model, const References& refs,
                            std::optional<AlignmentResult>& alignment) {
    if (refs.nbLocated < 3) {
        context.log("alignment skipped: " + std::to_string(refs.nbLocated) +
                    " located images (3 needed); the model stays in the mapper's frame");
        return model.dir;
    }
    writeText(layout.references(), refs.text);
    std::filesystem::create_directories(layout.aligned());
    std::error_code ec;
    const auto offset = std::filesystem::file_size(context.logFile(), ec);
    runner.run(alignerArgs(model.dir, layout, refs.maxError), 0.9, 0.95, 0);
    alignment = parseAlignment(readFrom(context.logFile(), ec ? 0 : offset));
    if (!alignment || !alignment->succeeded || !readSubModelSize(layout.aligned())) {
        context.log("alignment to " + std::to_string(refs.nbLocated) +
                    " location priors failed; the model stays in the mapper's frame");
        alignment.reset();
        return model.dir;
    }
    char line[160];
    std::snprintf(line, sizeof line, "aligned to %zu location priors: residual %.3f m mean, %.3f m median",
                  refs.nbLocated, alignment->meanError, alignment->medianError);
    context.log(line);
    return layout.aligned();
}

std::string reportJson(size_t nbImages, const TextModelSummary& summary,
                       const std::optional<AlignmentResult>& alignment) {
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
    return json + "\n}\n";
}

}  // namespace

unsigned taskSeconds(const RunOptions& options, size_t nbImages) {
    return options.taskTimeout > 0 ? options.taskTimeout : unsigned(60 + 30 * nbImages);
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
    Runner runner(context, options, taskSeconds(options, nbImages));
    const TaskLayout layout{context.dir()};
    context.log("colmap engine: " + std::to_string(nbImages) + " images, optic model " + code +
                (fixedOptics ? ", fixed optics" : "") + ", task limit " +
                std::to_string(taskSeconds(options, nbImages)) + " s");

    const Prepared prepared = prepareImages(job, context, layout);
    // The refinement switches hold for every camera; only the model of each group may differ.
    std::optional<OpticModel> switches;
    size_t nbDone = 0;
    for (const auto& [idxCam, images] : prepared.groups) {
        const SfmCfg::Camera& camera = cfg.cameras.at(idxCam);
        const OpticModel optics = opticModelFor(code, fixedOptics, hasDistortion(camera));
        switches = switches.value_or(optics);
        context.log("camera " + std::to_string(idxCam) + ": " + std::to_string(images.size()) +
                    " images, model " + optics.cameraModel + ", refined: " + joined(optics.refined) +
                    (optics.note.empty() ? "" : " (" + optics.note + ")"));
        std::string list;
        for (size_t i : images) {
            list += prepared.sources[i].mapperName + "\n";
        }
        writeText(layout.imageList(idxCam), list);
        const double lo = 0.35 * double(nbDone) / double(nbImages);
        nbDone += images.size();
        runner.run(extractorArgs(layout, idxCam, camera, optics, settings, options), lo,
                   0.35 * double(nbDone) / double(nbImages), 0);
    }
    runner.run(matcherArgs(layout, settings, options), 0.35, 0.7, 0);
    const SubModel best = mapImages(runner, context, layout, *switches, options, nbImages);

    std::optional<AlignmentResult> alignment;
    std::filesystem::path chosen = best.dir;
    if (settings.useGps.value_or(true)) {
        chosen = align(runner, context, layout, best, makeReferences(cfg, prepared.sources), alignment);
    }
    std::filesystem::create_directories(layout.text());
    runner.run(converterArgs(chosen, layout.text()), 0.95, 0.98, 0);

    TextModelSummary summary;
    ksm::Model<1u> model = readTextModel(layout.text(), prepared.sources, &summary);
    for (const std::string& path : summary.unregistered) {
        context.log("not registered: " + path);
    }
    char line[200];
    std::snprintf(line, sizeof line,
                  "model: %zu of %zu images registered, %zu points, mean reprojection error %.3f px",
                  summary.nbRegistered, nbImages, summary.nbPoints, summary.meanReprojectionError);
    context.log(line);

    const std::filesystem::path ksmPath = context.dir() / "0.ksm";
    const std::filesystem::path reportPath = context.dir() / "report.json";
    ksm::writeKsm(ksmPath, KestrixSparseModel(std::move(model)));
    writeText(reportPath, reportJson(nbImages, summary, alignment));
    context.progress(1);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    context.log("engine wall time " + seconds(wall) + ", subprocesses " +
                seconds(runner.subprocessSeconds()));
    return {{ksmPath, FileType::kKsm, 0}, {reportPath, FileType::kJson, 1}};
}

}  // namespace kxcolmap
