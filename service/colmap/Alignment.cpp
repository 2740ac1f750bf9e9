#include "service/colmap/Alignment.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <locale>
#include <sstream>

namespace kxcolmap {

const SfmCfg::Location* locationOf(const SfmCfg& cfg, size_t i) {
    const auto& idxPose = cfg.images.at(i).idxPose;
    if (!idxPose || !cfg.poses || *idxPose >= cfg.poses->size()) {
        return nullptr;
    }
    const auto& location = (*cfg.poses)[*idxPose].location;
    if (!location) {
        return nullptr;
    }
    const auto& c = location->cartesian;
    return std::isfinite(c[0]) && std::isfinite(c[1]) && std::isfinite(c[2]) ? &*location : nullptr;
}

References makeReferences(const SfmCfg& cfg, const std::vector<ImageSource>& sources) {
    References refs;
    std::vector<double> sigmas;
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text.precision(17);
    for (size_t i = 0; i < sources.size() && i < cfg.images.size(); ++i) {
        const SfmCfg::Location* location = locationOf(cfg, i);
        if (!location) {
            continue;
        }
        const auto& c = location->cartesian;
        text << sources[i].mapperName << ' ' << c[0] << ' ' << c[1] << ' ' << c[2] << '\n';
        ++refs.nbLocated;
        if (location->covariance) {
            const auto& cov = *location->covariance;
            const double var = std::max({cov[0][0], cov[1][1], cov[2][2]});
            if (std::isfinite(var) && var > 0) {
                sigmas.push_back(std::sqrt(var));
            }
        }
    }
    refs.text = text.str();
    // Three standard deviations of a typical prior; ten metres when the priors carry none.
    refs.maxError = 10;
    if (!sigmas.empty()) {
        std::nth_element(sigmas.begin(), sigmas.begin() + sigmas.size() / 2, sigmas.end());
        refs.maxError = std::max(0.1, 3 * sigmas[sigmas.size() / 2]);
    }
    return refs;
}

std::optional<AlignmentResult> parseAlignment(const std::string& output) {
    std::optional<AlignmentResult> result;
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        double mean, median;
        if (std::sscanf(line.c_str(), "=> Alignment error: %lf (mean), %lf (median)", &mean, &median) == 2) {
            result = result.value_or(AlignmentResult{});
            result->meanError = mean;
            result->medianError = median;
        } else if (line.rfind("=> Alignment succeeded", 0) == 0 ||
                   line.rfind("=> Alignment failed", 0) == 0) {
            result = result.value_or(AlignmentResult{});
            result->succeeded = line[13] == 's';
        }
    }
    return result;
}

}  // namespace kxcolmap
