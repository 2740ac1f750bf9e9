#include "service/colmap/Refinement.h"

#include <cmath>
#include <cstdio>
#include <sstream>
#include <stdexcept>

#include <Eigen/Geometry>

namespace kxcolmap {
namespace {

std::string percent(double ratio) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %%", 100 * ratio);
    return text;
}

}  // namespace

StagedOptics stagedOptics(const std::string& code, bool fixedOptics, bool distorted) {
    StagedOptics staged;
    const OpticModel final = opticModelFor(code, fixedOptics, distorted);
    staged.mapping = final;
    if (fixedOptics || final.cameraModel == "FULL_OPENCV" || final.cameraModel == "RADIAL") {
        // Nothing moves, the configured distortion is carried fixed by the only model that holds it, or
        // the code's model is already the simple one.
        return staged;
    }
    // One focal length and the radial terms the code allows hold on the first pairs of a forward walk,
    // where two focal lengths and tangential terms drift.
    const bool radial = final.refineExtraParams;
    staged.mapping.cameraModel = radial ? "RADIAL" : "SIMPLE_PINHOLE";
    staged.mapping.refinePrincipalPoint = false;
    staged.mapping.refined =
        radial ? std::vector<std::string>{"f", "k1", "k2"} : std::vector<std::string>{"f"};
    staged.mapping.note.clear();
    if (staged.mapping.cameraModel != final.cameraModel || final.refinePrincipalPoint) {
        staged.refined = final;
    }
    return staged;
}

std::string rewriteCameras(const std::string& camerasText, const std::string& cameraModel) {
    std::istringstream in(camerasText);
    in.imbue(std::locale::classic());
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out.precision(17);
    std::string line;
    for (size_t number = 1; std::getline(in, line); ++number) {
        if (line.empty() || line[0] == '#') {
            out << line << '\n';
            continue;
        }
        std::istringstream fields(line);
        fields.imbue(std::locale::classic());
        std::string id, model, width, height;
        std::vector<double> p;
        fields >> id >> model >> width >> height;
        for (double v; fields >> v;) {
            p.push_back(v);
        }
        const bool simple = model == "SIMPLE_PINHOLE" && p.size() == 3;
        const bool radial = model == "RADIAL" && p.size() == 5;
        if (!fields.eof() || (!simple && !radial && model != cameraModel)) {
            throw std::runtime_error("cameras.txt line " + std::to_string(number) + ": cannot rewrite \"" +
                                     line + "\" as " + cameraModel);
        }
        if (model != cameraModel) {
            if (cameraModel == "PINHOLE" && simple) {
                p = {p[0], p[0], p[1], p[2]};
            } else if (cameraModel == "OPENCV" && (simple || radial)) {
                p = {p[0], p[0], p[1], p[2], radial ? p[3] : 0, radial ? p[4] : 0, 0, 0};
            } else {
                throw std::runtime_error("cameras.txt line " + std::to_string(number) + ": " + model +
                                         " cannot become " + cameraModel);
            }
        }
        out << id << ' ' << cameraModel << ' ' << width << ' ' << height;
        for (double v : p) {
            out << ' ' << v;
        }
        out << '\n';
    }
    return out.str();
}

double meanReprojectionError(const ksm::Model<1u>& model) {
    std::vector<double> sums(model.points.size(), 0);
    std::vector<uint32_t> counts(model.points.size(), 0);
    for (const ksm::Capture& capture : model.captures) {
        if (capture.cameraIdx >= model.cameras.size() || capture.poseIdx >= model.poses.size()) {
            continue;
        }
        const kxsfm::RealCamera& c = model.cameras[capture.cameraIdx];
        const kxsfm::Pose& pose = model.poses[capture.poseIdx];
        const Eigen::Quaterniond q =
            Eigen::Quaterniond(pose.rotation.w, pose.rotation.x, pose.rotation.y, pose.rotation.z)
                .normalized();
        const Eigen::Vector3d centre(pose.centre.x, pose.centre.y, pose.centre.z);
        const auto& k = c.extra;  // k1, k2, p1, p2, k3
        for (const ksm::Measurement& m : capture.measurements) {
            if (m.pointIdx >= model.points.size()) {
                continue;
            }
            const auto& p = model.points[m.pointIdx];
            const Eigen::Vector3d x = q * (Eigen::Vector3d(p.x, p.y, p.z) - centre);
            const double u = x.x() / x.z(), v = x.y() / x.z();
            const double r2 = u * u + v * v;
            const double radial = 1 + r2 * (k[0] + r2 * (k[1] + r2 * k[4]));
            const double du = u * radial + 2 * k[2] * u * v + k[3] * (r2 + 2 * u * u);
            const double dv = v * radial + k[2] * (r2 + 2 * v * v) + 2 * k[3] * u * v;
            const double error = std::hypot(c.focal.x * du + c.principal.x - m.extra.x,
                                            c.focal.y * dv + c.principal.y - m.extra.y);
            if (std::isfinite(error)) {
                sums[m.pointIdx] += error;
                ++counts[m.pointIdx];
            }
        }
    }
    double total = 0;
    size_t nbPoints = 0;
    for (size_t i = 0; i < sums.size(); ++i) {
        if (counts[i] > 0) {
            total += sums[i] / counts[i];
            ++nbPoints;
        }
    }
    return nbPoints == 0 ? 0 : total / double(nbPoints);
}

std::string collapseReason(const ksm::Model<1u>& simple, double simpleError, const ksm::Model<1u>& refined,
                           double refinedError) {
    if (simple.cameras.size() != refined.cameras.size() ||
        simple.cameraImageSizes.size() != simple.cameras.size()) {
        return "the refined model has other cameras";
    }
    for (size_t i = 0; i < simple.cameras.size(); ++i) {
        const kxsfm::RealCamera& a = simple.cameras[i];
        const kxsfm::RealCamera& b = refined.cameras[i];
        const std::string camera = "camera " + std::to_string(i) + ": ";
        const double before = (double(a.focal.x) + a.focal.y) / 2,
                     after = (double(b.focal.x) + b.focal.y) / 2;
        if (!(std::abs(after / before - 1) <= 0.05)) {
            return camera + "the focal length moved by " + percent(after / before - 1);
        }
        if (!(std::abs(double(b.focal.x) / b.focal.y - 1) <= 0.03)) {
            return camera + "fx / fy became " + std::to_string(double(b.focal.x) / b.focal.y);
        }
        const double width = simple.cameraImageSizes[i].x, height = simple.cameraImageSizes[i].y;
        if (!(std::abs(b.principal.x - a.principal.x) <= 0.1 * width &&
              std::abs(b.principal.y - a.principal.y) <= 0.1 * height)) {
            return camera + "the principal point moved by more than 10 % of the image";
        }
    }
    // The stored model rounds poses and points to floats: a thousandth of the error is rounding.
    if (!(refinedError <= simpleError * 1.001)) {
        char text[96];
        std::snprintf(text, sizeof text, "the reprojection error grew from %.3f to %.3f px", simpleError,
                      refinedError);
        return text;
    }
    return {};
}

}  // namespace kxcolmap
