#include <algorithm>
#include <cstdio>
#include <map>
#include <stdexcept>

#include "service/TaskContext.h"
#include "service/colmap/SfmSteps.h"

namespace kxcolmap {
namespace {

// Vocabularies built from the same features are the same: the key is the images' digests, in order,
// and what decides their features (the image size read, the feature cap; upsampling follows from them).
std::filesystem::path vocabularyPath(const TaskLayout& layout, const std::vector<ImageSource>& sources,
                                     const RunOptions& options, size_t nbWords, uint32_t nbKPoints) {
    if (options.cacheDir.empty()) {
        return layout.dir / "vocabulary.bin";
    }
    std::string key = std::to_string(nbWords) + " " + std::to_string(options.maxImageSize) + " " +
                      std::to_string(nbKPoints);
    for (const ImageSource& source : sources) {
        for (uint32_t word : source.digest) {
            key += " " + std::to_string(word);
        }
    }
    uint64_t hash = 14695981039346656037ull;  // FNV-1a: stable from one run to the next
    for (unsigned char c : key) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    char name[48];
    std::snprintf(name, sizeof name, "vocabulary-%016llx.bin", static_cast<unsigned long long>(hash));
    std::filesystem::create_directories(options.cacheDir);
    return options.cacheDir / name;
}

// The cache keeps the most recently built vocabularies; the others give their bytes back to the budget.
void dropOldVocabularies(kxservice::TaskContext& context, const std::filesystem::path& cache) {
    constexpr size_t kKept = 7;  // and the one about to be added
    std::vector<std::pair<std::filesystem::file_time_type, std::filesystem::path>> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(cache, ec)) {
        if (entry.path().filename().string().rfind("vocabulary-", 0) == 0) {
            files.emplace_back(entry.last_write_time(ec), entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    for (size_t i = 0; i + kKept < files.size(); ++i) {
        const auto size = std::filesystem::file_size(files[i].second, ec);
        if (!ec && std::filesystem::remove(files[i].second, ec)) {
            context.releaseStorage(size);
        }
    }
}

void retrieve(Runner& runner, kxservice::TaskContext& context, const TaskLayout& layout, const SfmCfg& cfg,
              const std::vector<ImageSource>& sources, MatchPlan& plan, double lo, double hi) {
    const PlanLimits limits;
    const size_t nbRetrieved = limits.nbRetrieved;
    const uint32_t nbKPoints = cfg.settings ? cfg.settings->nbKPoints.value_or(0) : 0;
    auto tree = vocabularyPath(layout, sources, runner.options(), limits.nbWords, nbKPoints);
    if (std::filesystem::exists(tree)) {
        context.log("retrieval vocabulary reused: " + tree.string());
        std::error_code ec;  // its use keeps it among the recent ones
        std::filesystem::last_write_time(tree, std::filesystem::file_time_type::clock::now(), ec);
    } else {
        const auto built = layout.dir / "vocabulary.bin";
        runner.run(vocabularyArgs(layout, built, limits.nbWords), lo, (lo + hi) / 2, 0);
        std::error_code ec;
        const auto size = std::filesystem::file_size(built, ec);
        if (tree != built) {
            dropOldVocabularies(context, tree.parent_path());
        }
        if (tree != built && !ec && context.claimStorage(size)) {
            std::filesystem::rename(built, tree, ec);
            if (ec) {
                context.releaseStorage(size);
            }
        }
        if (tree != built && (ec || !std::filesystem::exists(tree))) {
            context.log("retrieval vocabulary not cached: the storage budget cannot hold it");
            tree = built;
        }
    }
    std::string queries;
    for (uint32_t i : plan.retrievalQueries) {
        queries += sources.at(i).mapperName + "\n";
    }
    writeText(layout.queries(), queries);
    const auto offset = runner.logSize();
    // The query itself comes back first: one more image than the neighbours wanted.
    runner.run(retrievalArgs(layout, tree, nbRetrieved + 1), (lo + hi) / 2, hi, plan.retrievalQueries.size());
    std::map<std::string, uint32_t> index;
    for (uint32_t i = 0; i < sources.size(); ++i) {
        index[sources[i].mapperName] = i;
    }
    size_t nbAnswered = 0;
    for (const auto& [query, images] : parseRetrieval(runner.logSince(offset))) {
        std::vector<uint32_t> others;
        for (const std::string& image : images) {
            if (const auto it = index.find(image); it != index.end() && others.size() < nbRetrieved) {
                others.push_back(it->second);
            }
        }
        if (const auto it = index.find(query); it != index.end()) {
            addRetrieved(plan, it->second, others);
            ++nbAnswered;
        }
    }
    if (nbAnswered < plan.retrievalQueries.size()) {
        throw std::runtime_error("colmap vocab_tree_retriever answered " + std::to_string(nbAnswered) +
                                 " of " + std::to_string(plan.retrievalQueries.size()) +
                                 " queries (see the task log)");
    }
}

}  // namespace

MatchPlan matchImages(Runner& runner, kxservice::TaskContext& context, const TaskLayout& layout,
                      const SfmCfg& cfg, const std::vector<ImageSource>& sources, double lo, double hi) {
    const bool unordered = cfg.settings && cfg.settings->unordered.value_or(false);
    MatchPlan plan = planMatching(planImages(cfg), unordered, PlanLimits{});
    context.log("matching plan: " + planText(plan) + " (" + plan.reason + ")");
    double matchFrom = lo;
    if (!plan.retrievalQueries.empty()) {
        matchFrom = lo + (hi - lo) / 3;
        retrieve(runner, context, layout, cfg, sources, plan, lo, matchFrom);
    }
    std::string pairs;
    for (const auto& [a, b] : plan.pairs) {
        pairs += sources.at(a).mapperName + " " + sources.at(b).mapperName + "\n";
    }
    writeText(layout.pairs(), pairs);
    char line[128];
    std::snprintf(line, sizeof line, "matching %zu image pairs, %.2f per image", plan.pairs.size(),
                  double(plan.pairs.size()) / double(std::max<size_t>(1, sources.size())));
    context.log(line);
    if (!plan.pairs.empty()) {
        runner.run(importerArgs(layout, runner.options()), matchFrom, hi, 0);
    }
    return plan;
}

}  // namespace kxcolmap
