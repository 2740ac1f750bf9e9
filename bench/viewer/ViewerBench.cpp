// Viewer frame and load times against a minimal GL program in the same run, and the interactive budget
// for large clouds. Run under an X server:
//   xvfb-run -a -s "-screen 0 1280x1024x24" bench_viewer [frame counts, e.g. 1000000,10000000]
//       [PLY load count, 0 to skip] [interactive count, 0 to skip]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <QApplication>
#include <QSurfaceFormat>

#include "MinimalRenderer.h"
#include "model/PlyData.h"
#include "viewer/ModelViewer.h"

namespace {
constexpr int kWidth = 963, kHeight = 700;

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A cloud with a dense core and sparse edges, like a reconstruction seen whole.
ksm::Model<1u> makeCloud(size_t count) {
    ksm::Model<1u> model;
    model.points.resize(count);
    model.colors.resize(count);
    std::mt19937 rng(7);
    std::normal_distribution<float> spread(0.0f, 1.0f);
    for (size_t i = 0; i < count; ++i) {
        model.points[i] = {spread(rng) * 3, spread(rng), spread(rng) * 0.5f};
        model.colors[i] = {uint8_t(i), uint8_t(i >> 8), uint8_t(i >> 16)};
    }
    return model;
}

std::vector<viewer::ScenePoint> toScene(const ksm::Model<1u>& model) {
    std::vector<viewer::ScenePoint> points(model.points.size());
    for (size_t i = 0; i < points.size(); ++i) {
        const auto& p = model.points[i];
        const auto& c = model.colors[i];
        points[i] = {p.x, p.y, p.z, c.r, c.g, c.b, 0};
    }
    return points;
}

void writePly(const std::string& path, const ksm::Model<1u>& model) {
    std::ofstream out(path, std::ios::binary);
    out << "ply\nformat binary_little_endian 1.0\nelement vertex " << model.points.size()
        << "\nproperty float x\nproperty float y\nproperty float z\nproperty uchar red\nproperty uchar "
           "green\n"
           "property uchar blue\nend_header\n";
    for (size_t i = 0; i < model.points.size(); ++i) {
        out.write(reinterpret_cast<const char*>(&model.points[i]), 12);
        out.write(reinterpret_cast<const char*>(&model.colors[i]), 3);
    }
}

uint64_t statusKb(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) == 0) {
            return std::stoull(line.substr(std::string(key).size() + 1));
        }
    }
    return 0;
}

// Best of `repeats` frames.
template <typename F>
double bestFrame(int repeats, F&& frame) {
    double best = 1e300;
    for (int i = 0; i < repeats; ++i) {
        const double t0 = now();
        frame();
        best = std::min(best, now() - t0);
    }
    return best;
}

void frameBench(ModelViewer& viewer, size_t count) {
    const auto model = makeCloud(count);
    viewer.setModel(model, true);
    viewer.setFrameBudget(0);  // every point in every frame
    viewer.grabFramebuffer();  // upload
    const double viewerFrame = bestFrame(3, [&] { viewer.grabFramebuffer(); });
    MinimalRenderer minimal(viewer.viewportWidth(), viewer.viewportHeight());
    const auto points = toScene(model);
    minimal.upload(points.data(), points.size());
    const QMatrix4x4 P = viewer.projMat();
    const double minimalFrame = bestFrame(3, [&] { minimal.frame(P, viewer.pointSizeFactor()); });
    viewer.makeCurrent();
    std::printf("frame %9zu points: viewer %.3f s, minimal %.3f s, ratio %.2f\n", count, viewerFrame,
                minimalFrame, viewerFrame / minimalFrame);
    std::fflush(stdout);
}

void loadBench(ModelViewer& viewer, size_t count, const std::string& path) {
    writePly(path, makeCloud(count));
    viewer.setFrameBudget(0);
    const double t0 = now();
    viewer::loadModelAndWait(viewer, QString::fromStdString(path));
    viewer.grabFramebuffer();
    const double viewerTime = now() - t0;
    viewer.setModel(ksm::Model<1u>(), true);  // free the viewer's copy before the baseline runs
    viewer.grabFramebuffer();

    const double t1 = now();
    std::vector<viewer::ScenePoint> points;
    {
        const kxply::PLYData ply(path);
        const auto& xyz = ply.getVertexPositions();
        const auto& rgb = ply.getVertexColors();
        points.resize(xyz.size());
        for (size_t i = 0; i < xyz.size(); ++i) {
            points[i] = {
                float(xyz[i][0]), float(xyz[i][1]), float(xyz[i][2]), rgb[i][0], rgb[i][1], rgb[i][2], 0};
        }
    }
    MinimalRenderer minimal(viewer.viewportWidth(), viewer.viewportHeight());
    minimal.upload(points.data(), points.size());
    minimal.frame(viewer.projMat(), 2);
    const double minimalTime = now() - t1;
    viewer.makeCurrent();
    std::printf(
        "load  %9zu points (binary PLY) to first frame: viewer %.3f s, read + minimal upload + frame "
        "%.3f s, ratio %.2f\n",
        count, viewerTime, minimalTime, viewerTime / minimalTime);
    std::fflush(stdout);
    std::remove(path.c_str());
}

void interactiveBench(ModelViewer& viewer, size_t count) {
    const uint64_t rssBefore = statusKb("VmRSS:");
    viewer.setModel(makeCloud(count), true);
    viewer.setFrameBudget(0.033);
    viewer.grabFramebuffer();  // upload and first frame
    const uint64_t rssLoaded = statusKb("VmRSS:");
    std::vector<double> frames;
    for (int i = 0; i < 40; ++i) {
        viewer.rotateScene(QPointF(0.0, 0.0), QPointF(0.002, 0.001));
        const double t0 = now();
        viewer.grabFramebuffer();
        frames.push_back(now() - t0);
    }
    // The first frames learn the renderer's speed.
    std::vector<double> settled(frames.begin() + 10, frames.end());
    double sum = 0;
    for (double f : settled) {
        sum += f;
    }
    std::sort(settled.begin(), settled.end());
    const double worst = settled.back();
    const double p90 = settled[settled.size() * 9 / 10];
    const double t0 = now();
    int nbFrames = 0;
    double worstStill = 0;
    while (viewer.isRefining()) {
        const double f0 = now();
        viewer.grabFramebuffer();
        worstStill = std::max(worstStill, now() - f0);
        ++nbFrames;
    }
    const double refine = now() - t0;
    std::printf(
        "interactive %zu points, target 0.033 s: orbit frame mean %.3f s, 90th percentile %.3f s, worst %.3f "
        "s "
        "(ratio to target %.2f); full refinement %.2f s over %d frames (worst %.3f s)\n",
        count, sum / double(settled.size()), p90, worst, worst / 0.033, refine, nbFrames, worstStill);
    std::printf("  memory: %.0f MB resident for the cloud (%.0f MB of 16-byte points), peak %.0f MB\n",
                double(rssLoaded - rssBefore) / 1024, double(count) * 16 / 1e6,
                double(statusKb("VmHWM:")) / 1024);
    std::fflush(stdout);
}

std::vector<size_t> parseCounts(const char* text) {
    std::vector<size_t> counts;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        counts.push_back(std::stoull(item));
    }
    return counts;
}
}  // namespace

int main(int argc, char** argv) {
    QSurfaceFormat::setDefaultFormat(ModelViewer::surfaceFormat());
    QApplication app(argc, argv);
    const auto frameCounts = parseCounts(argc > 1 ? argv[1] : "1000000,10000000");
    const size_t loadCount = argc > 2 ? std::stoull(argv[2]) : 10000000;
    const size_t interactiveCount = argc > 3 ? std::stoull(argv[3]) : 10000000;
    try {
        ModelViewer viewer;
        viewer.resize(kWidth, kHeight);
        viewer.show();
        QApplication::processEvents();
        viewer.grabFramebuffer();
        if (viewer.isDisabledGL()) {
            std::fprintf(stderr, "no OpenGL 3.3 context\n");
            return 1;
        }
        for (size_t count : frameCounts) {
            frameBench(viewer, count);
        }
        if (loadCount > 0) {
            loadBench(viewer, loadCount, "/tmp/kx-viewer-bench.ply");
        }
        viewer.setModel(ksm::Model<1u>(), true);
        viewer.grabFramebuffer();
        if (interactiveCount > 0) {
            interactiveBench(viewer, interactiveCount);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_viewer: %s\n", e.what());
        return 1;
    }
    return 0;
}
