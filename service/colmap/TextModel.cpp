#include "service/colmap/TextModel.h"

#include <cmath>
#include <fstream>
#include <locale>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <unordered_map>

#include "service/colmap/OpticModel.h"

namespace kxcolmap {
namespace {

// Reads a text file line by line, keeping the line number for errors.
class LineReader {
public:
    explicit LineReader(const std::filesystem::path& path) : mIn(path), mName(path.filename().string()) {
        if (!mIn) {
            throw std::runtime_error("cannot open " + path.string());
        }
    }
    bool next(std::string& line) {
        ++mLine;
        return bool(std::getline(mIn, line));
    }
    // The next line that is neither empty nor a comment.
    bool nextRecord(std::string& line) {
        while (next(line)) {
            if (!line.empty() && line[0] != '#') {
                return true;
            }
        }
        return false;
    }
    std::istringstream fields(const std::string& line) const {
        std::istringstream s(line);
        s.imbue(std::locale::classic());
        return s;
    }
    [[noreturn]] void fail(const std::string& what) const {
        throw std::runtime_error(mName + " line " + std::to_string(mLine) + ": " + what);
    }

private:
    std::ifstream mIn;
    std::string mName;
    size_t mLine = 0;
};

struct CameraRow {
    uint32_t width = 0, height = 0;
    SfmCfg::Camera camera;
};

std::map<long long, CameraRow> readCameras(const std::filesystem::path& path) {
    LineReader in(path);
    std::map<long long, CameraRow> cameras;
    std::string line;
    while (in.nextRecord(line)) {
        auto s = in.fields(line);
        long long id = 0;
        std::string model;
        CameraRow row;
        if (!(s >> id >> model >> row.width >> row.height)) {
            in.fail("malformed camera");
        }
        std::vector<double> params;
        for (double v; s >> v;) {
            params.push_back(v);
        }
        if (!s.eof()) {
            in.fail("malformed camera parameter");
        }
        try {
            row.camera = cameraFromParams(model, params);
        } catch (const std::runtime_error& e) {
            in.fail(e.what());
        }
        if (!cameras.emplace(id, row).second) {
            in.fail("camera " + std::to_string(id) + " defined twice");
        }
    }
    return cameras;
}

struct PointRow {
    kxsfm::Vec3<float> xyz;
    kxsfm::Color color;
    double error = 0;
};

std::map<long long, PointRow> readPoints(const std::filesystem::path& path) {
    LineReader in(path);
    std::map<long long, PointRow> points;
    std::string line;
    while (in.nextRecord(line)) {
        auto s = in.fields(line);
        long long id = 0;
        double x, y, z;
        int r, g, b;
        PointRow row;
        if (!(s >> id >> x >> y >> z >> r >> g >> b >> row.error) || r < 0 || g < 0 || b < 0 || r > 255 ||
            g > 255 || b > 255) {
            in.fail("malformed point");
        }
        row.xyz = {float(x), float(y), float(z)};
        row.color = {uint8_t(r), uint8_t(g), uint8_t(b)};
        if (!points.emplace(id, row).second) {
            in.fail("point " + std::to_string(id) + " defined twice");
        }
    }
    return points;
}

// World-to-camera rotation as a unit quaternion; the centre is -R^T t.
kxsfm::Pose poseOf(double qw, double qx, double qy, double qz, double tx, double ty, double tz) {
    const double n = std::sqrt(qw * qw + qx * qx + qy * qy + qz * qz);
    qw /= n, qx /= n, qy /= n, qz /= n;
    const double r[3][3] = {
        {1 - 2 * (qy * qy + qz * qz), 2 * (qx * qy - qw * qz), 2 * (qx * qz + qw * qy)},
        {2 * (qx * qy + qw * qz), 1 - 2 * (qx * qx + qz * qz), 2 * (qy * qz - qw * qx)},
        {2 * (qx * qz - qw * qy), 2 * (qy * qz + qw * qx), 1 - 2 * (qx * qx + qy * qy)},
    };
    const double t[3] = {tx, ty, tz};
    double c[3];
    for (int j = 0; j < 3; ++j) {
        c[j] = -(r[0][j] * t[0] + r[1][j] * t[1] + r[2][j] * t[2]);
    }
    kxsfm::Pose pose;
    pose.rotation = {float(qw), float(qx), float(qy), float(qz)};
    pose.centre = {float(c[0]), float(c[1]), float(c[2])};
    return pose;
}

}  // namespace

vexkit::Md5Digest digestFromHex(const std::string& hex) {
    if (hex.size() != 32) {
        throw std::runtime_error("not an MD5 key: " + hex);
    }
    vexkit::Md5Digest digest{};
    for (size_t i = 0; i < 32; ++i) {
        const char ch = hex[i];
        const int v = ch >= '0' && ch <= '9' ? ch - '0' : ch >= 'a' && ch <= 'f' ? ch - 'a' + 10 : -1;
        if (v < 0) {
            throw std::runtime_error("not an MD5 key: " + hex);
        }
        digest[i / 8] = (digest[i / 8] << 4) | uint32_t(v);
    }
    return digest;
}

ksm::Model<1u> readTextModel(const std::filesystem::path& dir, const std::vector<ImageSource>& sources,
                             TextModelSummary* summary) {
    const auto cameraRows = readCameras(dir / "cameras.txt");
    const auto pointRows = readPoints(dir / "points3D.txt");

    ksm::Model<1u> model;
    std::map<long long, uint32_t> cameraIdx, pointIdx;
    for (const auto& [id, row] : cameraRows) {
        cameraIdx[id] = uint32_t(model.cameras.size());
        kxsfm::RealCamera cam;
        cam.focal = {row.camera.fx, row.camera.fy};
        cam.principal = {row.camera.cx, row.camera.cy};
        cam.extra = {row.camera.k1, row.camera.k2, row.camera.p1, row.camera.p2, row.camera.k3};
        model.cameras.push_back(cam);
        model.cameraImageSizes.push_back({row.width, row.height});
    }
    double errorSum = 0;
    for (const auto& [id, row] : pointRows) {
        pointIdx[id] = uint32_t(model.points.size());
        model.points.push_back(row.xyz);
        model.colors.push_back(row.color);
        errorSum += row.error;
    }

    std::unordered_map<std::string, size_t> sourceOf;
    for (size_t i = 0; i < sources.size(); ++i) {
        sourceOf.emplace(sources[i].mapperName, i);
    }
    // Captures collected by source, so that their order does not depend on the export's ids.
    std::vector<std::optional<ksm::Capture>> bySource(sources.size());
    std::vector<std::optional<kxsfm::Pose>> poseBySource(sources.size());
    size_t nbMeasurements = 0;

    LineReader in(dir / "images.txt");
    std::string line, features;
    while (in.nextRecord(line)) {
        auto s = in.fields(line);
        long long imageId = 0, cameraId = 0;
        double qw, qx, qy, qz, tx, ty, tz;
        std::string name;
        if (!(s >> imageId >> qw >> qx >> qy >> qz >> tx >> ty >> tz >> cameraId) || !(s >> std::ws) ||
            !std::getline(s, name) || name.empty()) {
            in.fail("malformed image");
        }
        const auto src = sourceOf.find(name);
        if (src == sourceOf.end()) {
            in.fail("image " + name + " was not given to the mapper");
        }
        if (bySource[src->second]) {
            in.fail("image " + name + " registered twice");
        }
        const auto cam = cameraIdx.find(cameraId);
        if (cam == cameraIdx.end()) {
            in.fail("image " + name + " uses undefined camera " + std::to_string(cameraId));
        }
        // The feature line follows even when it is empty (an image with no features).
        if (!in.next(features)) {
            features.clear();
        }
        ksm::Capture capture;
        capture.cameraIdx = cam->second;
        capture.imagePath = sources[src->second].path;
        capture.imageDigest = sources[src->second].digest;
        auto f = in.fields(features);
        std::vector<double> values;
        for (double v; f >> v;) {
            values.push_back(v);
        }
        if (!f.eof() || values.size() % 3 != 0) {
            in.fail("malformed feature list of image " + name);
        }
        for (size_t k = 0; k < values.size(); k += 3) {
            const double x = values[k], y = values[k + 1];
            const long long pointId = std::llround(values[k + 2]);
            if (pointId < 0) {
                continue;
            }
            const auto point = pointIdx.find(pointId);
            if (point == pointIdx.end()) {
                in.fail("image " + name + " observes undefined point " + std::to_string(pointId));
            }
            ksm::Measurement m;
            m.pointIdx = point->second;
            m.extra = {float(fromMapperPixel(x)), float(fromMapperPixel(y))};
            capture.measurements.push_back(m);
        }
        nbMeasurements += capture.measurements.size();
        poseBySource[src->second] = poseOf(qw, qx, qy, qz, tx, ty, tz);
        bySource[src->second] = std::move(capture);
    }

    TextModelSummary sum;
    for (size_t i = 0; i < sources.size(); ++i) {
        if (!bySource[i]) {
            sum.unregistered.push_back(sources[i].path);
            continue;
        }
        bySource[i]->poseIdx = uint32_t(model.poses.size());
        model.poses.push_back(*poseBySource[i]);
        model.captures.push_back(std::move(*bySource[i]));
    }
    if (summary) {
        sum.nbRegistered = model.captures.size();
        sum.nbPoints = model.points.size();
        sum.nbMeasurements = nbMeasurements;
        sum.meanReprojectionError = pointRows.empty() ? 0 : errorSum / double(pointRows.size());
        *summary = std::move(sum);
    }
    return model;
}

}  // namespace kxcolmap
