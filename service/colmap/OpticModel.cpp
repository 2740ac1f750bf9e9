#include "service/colmap/OpticModel.h"

#include <array>
#include <cstdio>
#include <stdexcept>

namespace kxcolmap {
namespace {

struct Code {
    const char* name;
    bool twoFocals;
    bool principalPoint;
    int nbDistortion;  // 0, 2 (k1, k2) or 5 (k1, k2, p1, p2, k3)
};

constexpr std::array<Code, 8> kCodes{{
    {"F1", false, false, 0},
    {"F1D2", false, false, 2},
    {"F1D5", false, false, 5},
    {"F1C2D5", false, true, 5},
    {"F2", true, false, 0},
    {"F2D5", true, false, 5},
    {"F2C2", true, true, 0},
    {"F2C2D5", true, true, 5},
}};

const Code& findCode(const std::string& name) {
    for (const Code& code : kCodes) {
        if (name == code.name) {
            return code;
        }
    }
    throw std::runtime_error("unknown optic model: " + name);
}

// Parameter count of each model this table chooses, and whether it has one focal length.
struct ModelShape {
    const char* name;
    size_t nbParams;
    bool oneFocal;
};

constexpr std::array<ModelShape, 6> kModels{{
    {"SIMPLE_PINHOLE", 3, true},
    {"PINHOLE", 4, false},
    {"SIMPLE_RADIAL", 4, true},
    {"RADIAL", 5, true},
    {"OPENCV", 8, false},
    {"FULL_OPENCV", 12, false},
}};

const ModelShape& findModel(const std::string& name) {
    for (const ModelShape& model : kModels) {
        if (name == model.name) {
            return model;
        }
    }
    throw std::runtime_error("unsupported camera model: " + name);
}

std::string join(const std::vector<double>& values) {
    std::string text;
    char buf[32];
    for (double v : values) {
        // 17 significant digits give back the same double, and every float exactly.
        std::snprintf(buf, sizeof buf, "%.17g", v);
        text += text.empty() ? "" : ",";
        text += buf;
    }
    return text;
}

}  // namespace

bool hasDistortion(const SfmCfg::Camera& camera) {
    return camera.k1 != 0 || camera.k2 != 0 || camera.p1 != 0 || camera.p2 != 0 || camera.k3 != 0;
}

OpticModel opticModelFor(const std::string& codeName, bool fixedOptics, bool distorted) {
    const Code& code = findCode(codeName.empty() ? "F1D2" : codeName);
    OpticModel m;
    if (fixedOptics) {
        // Nothing moves, so the five-coefficient model with k4..k6 at zero is exactly the configured camera.
        m.cameraModel = distorted ? "FULL_OPENCV" : "PINHOLE";
        return m;
    }
    m.refineFocal = true;
    m.refinePrincipalPoint = code.principalPoint;
    m.refineExtraParams = code.nbDistortion > 0;
    // Refining k4..k6 diverges, so refined distortion never uses the twelve-parameter model.
    if (code.nbDistortion == 5) {
        m.cameraModel = "OPENCV";
        m.refined = {"fx", "fy"};
        m.note = "k3 is not refined and held at 0";
        if (!code.twoFocals) {
            m.note += "; fx and fy are refined separately";
        }
    } else if (code.nbDistortion == 2) {
        m.cameraModel = "RADIAL";
        m.refined = {"f"};
        m.note = distorted ? "p1, p2 and k3 are held at 0" : "";
    } else if (distorted) {
        // Fixed distortion needs a model that carries all five coefficients without refining them.
        m.cameraModel = "FULL_OPENCV";
        m.refined = {"fx", "fy"};
        m.note = code.twoFocals ? "" : "fx and fy are refined separately";
    } else {
        m.cameraModel = code.twoFocals ? "PINHOLE" : "SIMPLE_PINHOLE";
        m.refined = code.twoFocals ? std::vector<std::string>{"fx", "fy"} : std::vector<std::string>{"f"};
    }
    if (code.principalPoint) {
        m.refined.insert(m.refined.end(), {"cx", "cy"});
    }
    if (code.nbDistortion == 5) {
        m.refined.insert(m.refined.end(), {"k1", "k2", "p1", "p2"});
    } else if (code.nbDistortion == 2) {
        m.refined.insert(m.refined.end(), {"k1", "k2"});
    }
    return m;
}

std::string cameraParams(const SfmCfg::Camera& c, const std::string& cameraModel) {
    const double cx = toMapperPixel(c.cx), cy = toMapperPixel(c.cy);
    const double f = (double(c.fx) + double(c.fy)) / 2;
    const std::string& name = findModel(cameraModel).name;
    if (name == "SIMPLE_PINHOLE") {
        return join({f, cx, cy});
    }
    if (name == "PINHOLE") {
        return join({c.fx, c.fy, cx, cy});
    }
    if (name == "SIMPLE_RADIAL") {
        return join({f, cx, cy, c.k1});
    }
    if (name == "RADIAL") {
        return join({f, cx, cy, c.k1, c.k2});
    }
    if (name == "OPENCV") {
        return join({c.fx, c.fy, cx, cy, c.k1, c.k2, c.p1, c.p2});
    }
    return join({c.fx, c.fy, cx, cy, c.k1, c.k2, c.p1, c.p2, c.k3, 0, 0, 0});
}

SfmCfg::Camera cameraFromParams(const std::string& cameraModel, const std::vector<double>& p) {
    const ModelShape& model = findModel(cameraModel);
    if (p.size() != model.nbParams) {
        throw std::runtime_error("camera model " + cameraModel + " needs " + std::to_string(model.nbParams) +
                                 " parameters, got " + std::to_string(p.size()));
    }
    SfmCfg::Camera c;
    const size_t nbFocals = model.oneFocal ? 1 : 2;
    c.fx = float(p[0]);
    c.fy = float(p[nbFocals - 1]);
    c.cx = float(fromMapperPixel(p[nbFocals]));
    c.cy = float(fromMapperPixel(p[nbFocals + 1]));
    const size_t first = nbFocals + 2;  // first distortion coefficient
    const size_t nbExtra = p.size() - first;
    c.k1 = nbExtra > 0 ? float(p[first]) : 0;
    c.k2 = nbExtra > 1 ? float(p[first + 1]) : 0;
    c.p1 = nbExtra > 3 ? float(p[first + 2]) : 0;
    c.p2 = nbExtra > 3 ? float(p[first + 3]) : 0;
    c.k3 = nbExtra > 4 ? float(p[first + 4]) : 0;
    return c;
}

}  // namespace kxcolmap
