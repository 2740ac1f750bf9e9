#include "service/colmap/MatchPlan.h"

#include "service/colmap/Alignment.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>

namespace kxcolmap {
namespace {

double median(std::vector<double> values) {
    const auto mid = values.begin() + std::ptrdiff_t(values.size() / 2);
    std::nth_element(values.begin(), mid, values.end());
    return *mid;
}

void addPair(std::vector<ImagePair>& pairs, uint32_t a, uint32_t b) {
    if (a != b) {
        pairs.emplace_back(std::min(a, b), std::max(a, b));
    }
}

void tidy(std::vector<ImagePair>& pairs) {
    std::sort(pairs.begin(), pairs.end());
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
}

void addSequence(std::vector<ImagePair>& pairs, size_t nbImages, size_t overlap) {
    for (size_t i = 0; i < nbImages; ++i) {
        for (size_t j = i + 1; j < nbImages && j <= i + overlap; ++j) {
            addPair(pairs, uint32_t(i), uint32_t(j));
        }
    }
}

// Each located image with its nbNearest nearest located images. Quadratic in the located images, which
// stays well under a second for ten thousand.
void addNearest(std::vector<ImagePair>& pairs, const std::vector<PlanImage>& images,
                const std::vector<uint32_t>& located, size_t nbNearest) {
    std::vector<std::pair<double, uint32_t>> distances;
    for (uint32_t i : located) {
        distances.clear();
        for (uint32_t j : located) {
            if (j != i) {
                distances.emplace_back((*images[i].position - *images[j].position).squaredNorm(), j);
            }
        }
        const size_t k = std::min(nbNearest, distances.size());
        std::partial_sort(distances.begin(), distances.begin() + std::ptrdiff_t(k), distances.end());
        for (size_t n = 0; n < k; ++n) {
            addPair(pairs, i, distances[n].second);
        }
    }
}

// The median distance from a located image to its nearest located neighbour.
double typicalSpacing(const std::vector<PlanImage>& images, const std::vector<uint32_t>& located) {
    std::vector<double> nearest;
    for (uint32_t i : located) {
        double best = std::numeric_limits<double>::infinity();
        for (uint32_t j : located) {
            if (j != i) {
                best = std::min(best, (*images[i].position - *images[j].position).norm());
            }
        }
        nearest.push_back(best);
    }
    return median(nearest);
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

}  // namespace

std::vector<PlanImage> planImages(const SfmCfg& cfg) {
    std::vector<PlanImage> images(cfg.images.size());
    for (size_t i = 0; i < cfg.images.size(); ++i) {
        const SfmCfg::Location* location = locationOf(cfg, i);
        if (!location) {
            continue;
        }
        images[i].position =
            Eigen::Vector3d(location->cartesian[0], location->cartesian[1], location->cartesian[2]);
        images[i].sigma = std::numeric_limits<double>::quiet_NaN();
        if (location->covariance) {
            const auto& cov = *location->covariance;
            const double var = std::max(cov[0][0], cov[1][1]);
            if (std::isfinite(var) && var >= 0) {
                images[i].sigma = std::sqrt(var);
            }
        }
    }
    return images;
}

MatchPlan planMatching(const std::vector<PlanImage>& images, bool unordered, const PlanLimits& limits) {
    MatchPlan plan;
    const size_t n = images.size();
    std::vector<uint32_t> located, unlocated;
    std::vector<double> sigmas;
    for (uint32_t i = 0; i < n; ++i) {
        (images[i].position ? located : unlocated).push_back(i);
        if (images[i].position) {
            // A prior without its uncertainty counts as coarse, as the aligner's 10 m default does.
            sigmas.push_back(std::isnan(images[i].sigma) ? std::numeric_limits<double>::infinity()
                                                         : images[i].sigma);
        }
    }
    if (located.size() >= 3) {
        const double spacing = typicalSpacing(images, located);
        const double sigma = median(sigmas);
        if (sigma < spacing) {
            plan.name = "spatial";
            plan.parameters = {{"nearest", double(limits.nbNearest)},
                               {"overlap", unordered ? 0.0 : double(limits.sequenceOverlap)},
                               {"spacing", spacing},
                               {"sigma", sigma}};
            plan.reason = std::to_string(located.size()) + " location priors, " + number(sigma) +
                          " m uncertain, " + number(spacing) + " m apart";
            addNearest(plan.pairs, images, located, limits.nbNearest);
            if (!unordered) {
                addSequence(plan.pairs, n, limits.sequenceOverlap);
            } else if (!unlocated.empty()) {
                plan.retrievalQueries = unlocated;
                plan.parameters.emplace_back("retrieved", double(limits.nbRetrieved));
            }
            tidy(plan.pairs);
            return plan;
        }
        plan.reason = "location priors " + number(sigma) + " m uncertain, " + number(spacing) + " m apart; ";
    } else {
        plan.reason = std::to_string(located.size()) + " location priors; ";
    }
    if (!unordered) {
        plan.name = "sequential";
        plan.parameters = {{"overlap", double(limits.sequenceOverlap)}};
        plan.reason += "the images are ordered";
        addSequence(plan.pairs, n, limits.sequenceOverlap);
    } else if (n <= limits.exhaustiveLimit) {
        plan.name = "exhaustive";
        plan.reason += "unordered, at most " + std::to_string(limits.exhaustiveLimit) + " images";
        addSequence(plan.pairs, n, n);
    } else {
        plan.name = "retrieval";
        plan.parameters = {{"words", double(limits.nbWords)}, {"retrieved", double(limits.nbRetrieved)}};
        plan.reason += "unordered, more than " + std::to_string(limits.exhaustiveLimit) + " images";
        for (uint32_t i = 0; i < n; ++i) {
            plan.retrievalQueries.push_back(i);
        }
    }
    tidy(plan.pairs);
    return plan;
}

void addRetrieved(MatchPlan& plan, uint32_t query, const std::vector<uint32_t>& retrieved) {
    for (uint32_t other : retrieved) {
        addPair(plan.pairs, query, other);
    }
    tidy(plan.pairs);
}

std::vector<std::pair<std::string, std::vector<std::string>>> parseRetrieval(const std::string& output) {
    std::vector<std::pair<std::string, std::vector<std::string>>> queries;
    std::istringstream in(output);
    const std::string query = "Querying for image ", found = "  image_id=", name = ", image_name=";
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, query.size(), query) == 0) {
            const size_t end = line.rfind(" [");
            if (end != std::string::npos && end > query.size()) {
                queries.emplace_back(line.substr(query.size(), end - query.size()),
                                     std::vector<std::string>{});
            }
        } else if (line.compare(0, found.size(), found) == 0 && !queries.empty()) {
            const size_t begin = line.find(name);
            const size_t end = line.rfind(", score=");
            if (begin != std::string::npos && end != std::string::npos && end > begin + name.size()) {
                std::string image = line.substr(begin + name.size(), end - begin - name.size());
                if (image != queries.back().first) {
                    queries.back().second.push_back(std::move(image));
                }
            }
        }
    }
    return queries;
}

bool relaxedFirst(const SfmCfg& cfg, const MatchPlan& plan) {
    size_t nbForward = 0, nbMotions = 0;
    if (cfg.poses) {
        for (const SfmCfg::Pose& pose : *cfg.poses) {
            if (pose.velocity) {
                const auto& v = *pose.velocity;  // in the camera's frame: z along the optical axis
                ++nbMotions;
                nbForward += std::abs(v[2]) > std::hypot(v[0], v[1]) ? 1 : 0;
            }
        }
    }
    return (nbMotions > 0 && 2 * nbForward > nbMotions) || plan.name == "sequential";
}

std::string planJson(const MatchPlan& plan) {
    std::string json = "{\"name\": \"" + plan.name + "\"";
    for (const auto& [key, value] : plan.parameters) {
        json += ", \"" + key + "\": " + (std::isfinite(value) ? number(value) : "null");
    }
    return json + "}";
}

std::string planText(const MatchPlan& plan) {
    std::string text = plan.name;
    for (const auto& [key, value] : plan.parameters) {
        text += " " + key + " " + number(value);
    }
    return text;
}

}  // namespace kxcolmap
