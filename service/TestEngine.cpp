// The test engine: deterministic and fast, so that every exchange of the protocol can be exercised
// without real reconstruction. Its models are plausible in shape (one capture per image, the
// configuration's cameras, a few hundred coloured points), not in geometry.
#include <atomic>
#include <chrono>
#include <cmath>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "model/KsmWriter.h"
#include "model/PlyWriter.h"
#include "service/Engine.h"
#include "vexkit/JsonText.h"

namespace kxservice {

namespace {

constexpr uint32_t kNbPoints = 300;
constexpr uint32_t kNbMeasurements = 24;  // per capture
constexpr uint32_t kDenseCopies = 8;      // dense points per sparse point

// A small generator seeded by the task's input key: the same inputs give the same outputs.
class Rng {
public:
    explicit Rng(const FileKey& key) {
        for (char c : key.data) {
            mState = (mState ^ static_cast<uint8_t>(c)) * 1099511628211ull;
        }
    }
    uint32_t next() {
        mState ^= mState << 13;
        mState ^= mState >> 7;
        mState ^= mState << 17;
        return static_cast<uint32_t>(mState >> 16);
    }
    float uniform(float lo, float hi) {
        return lo + (hi - lo) * static_cast<float>(next() % 65536) / 65535.0f;
    }

private:
    uint64_t mState = 1469598103934665603ull;
};

vexkit::Md5Digest digestOf(const FileKey& key) {
    vexkit::Md5Digest words{};
    for (size_t i = 0; i < 32; ++i) {
        const char c = key.data[i];
        const uint32_t nibble = (c >= '0' && c <= '9')   ? uint32_t(c - '0')
                                : (c >= 'a' && c <= 'f') ? uint32_t(c - 'a' + 10)
                                                         : 0u;
        words[i / 8] |= nibble << (28 - 4 * (i % 8));
    }
    return words;
}

// Stage 2 in a few short steps, so that progress and cancellation can be seen.
void work(TaskContext& context, int nbSteps) {
    for (int i = 1; i <= nbSteps; ++i) {
        if (context.cancelled()) {
            throw std::runtime_error("cancelled");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
        context.progress(static_cast<float>(i) / static_cast<float>(nbSteps));
    }
}

// The report a real alignment gives, in its shape: what was aligned and what was left out.
void writeReport(const std::filesystem::path& file, size_t nbImages, size_t nbRegistered,
                 const std::vector<std::string>& unregistered) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << "{\n    \"images\": " << nbImages << ",\n    \"registeredImages\": " << nbRegistered
        << ",\n    \"points\": " << kNbPoints << ",\n    \"meanReprojectionError\": 0.5"
        << ",\n    \"unregistered\": [";
    for (size_t i = 0; i < unregistered.size(); ++i) {
        out << (i == 0 ? "" : ", ") << vexkit::jsonQuoted(unregistered[i]);
    }
    out << "]\n}\n";
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write the report");
    }
}

class TestEngine final : public Engine {
public:
    explicit TestEngine(unsigned incompleteAlignments) : mIncompleteAlignments(incompleteAlignments) {}

    bool canDensify() const override { return true; }

    std::vector<ResultFile> runSfm(const SfmJob& job, TaskContext& context) override {
        context.log("test engine: " + std::to_string(job.cfg.images.size()) + " images, " +
                    std::to_string(job.cfg.cameras.size()) + " cameras");
        work(context, 4);
        Rng rng(job.configKey);
        ksm::Model<1u> m;
        for (const SfmCfg::Camera& c : job.cfg.cameras) {
            m.cameras.push_back({{c.fx, c.fy}, {c.cx, c.cy}, {c.k1, c.k2, c.p1, c.p2, c.k3}});
            m.cameraImageSizes.push_back({c.width, c.height});
        }
        for (uint32_t i = 0; i < kNbPoints; ++i) {
            m.points.push_back({rng.uniform(-5, 5), rng.uniform(-5, 5), rng.uniform(0, 1)});
            m.colors.push_back({static_cast<uint8_t>(rng.next()), static_cast<uint8_t>(rng.next()),
                                static_cast<uint8_t>(rng.next())});
        }
        const size_t nbImages = job.cfg.images.size();
        // One alignment per armed fault leaves its last photograph out.
        unsigned armed = mIncompleteAlignments.load();
        while (armed > 0 && !mIncompleteAlignments.compare_exchange_weak(armed, armed - 1)) {
        }
        const size_t nbRegistered = armed > 0 && nbImages > 0 ? nbImages - 1 : nbImages;
        std::vector<std::string> unregistered;
        for (size_t i = nbRegistered; i < nbImages; ++i) {
            unregistered.push_back(job.cfg.images[i].name);
        }
        for (size_t i = 0; i < nbRegistered; ++i) {
            const SfmCfg::Image& img = job.cfg.images[i];
            const float angle = 6.2831853f * static_cast<float>(i) / static_cast<float>(nbImages);
            kxsfm::Pose pose;
            pose.centre = {10 * std::cos(angle), 10 * std::sin(angle), 5};
            m.poses.push_back(pose);
            ksm::Capture cap;
            cap.cameraIdx = img.idxCam;
            cap.poseIdx = static_cast<uint32_t>(i);
            for (uint32_t j = 0; j < kNbMeasurements; ++j) {
                cap.measurements.push_back(
                    {rng.next() % kNbPoints, {rng.uniform(0, 100), rng.uniform(0, 100)}});
            }
            cap.imagePath = img.name;
            cap.imageDigest = digestOf(img.key);
            m.captures.push_back(std::move(cap));
        }
        const std::filesystem::path out = context.dir() / "0.ksm";
        ksm::writeKsm(out, KestrixSparseModel(std::move(m)));
        const std::filesystem::path report = context.dir() / "report.json";
        writeReport(report, nbImages, nbRegistered, unregistered);
        return {{out, FileType::kKsm, 0}, {report, FileType::kJson, 0}};
    }

    std::vector<ResultFile> runMvs(const MvsJob& job, TaskContext& context) override {
        context.log("test engine: densifying " + std::to_string(job.model.points.size()) + " points");
        work(context, 4);
        Rng rng(job.ksmKey);
        std::vector<kxsfm::Vec3<float>> points;
        std::vector<kxsfm::Color> colors;
        const auto& sparse = job.model;
        for (size_t i = 0; i < sparse.points.size(); ++i) {
            const kxsfm::Color col =
                i < sparse.colors.size() ? sparse.colors[i] : kxsfm::Color{200, 200, 200};
            for (uint32_t k = 0; k < kDenseCopies; ++k) {
                const auto& p = sparse.points[i];
                points.push_back({p.x + rng.uniform(-0.05f, 0.05f), p.y + rng.uniform(-0.05f, 0.05f),
                                  p.z + rng.uniform(-0.05f, 0.05f)});
                colors.push_back(col);
            }
        }
        if (points.empty()) {  // a model without points still densifies to something visible
            for (uint32_t i = 0; i < kNbPoints; ++i) {
                points.push_back({rng.uniform(-1, 1), rng.uniform(-1, 1), rng.uniform(-1, 1)});
                colors.push_back({128, static_cast<uint8_t>(rng.next()), 64});
            }
        }
        const std::filesystem::path out = context.dir() / "dense.ply";
        ply::writeColoredPly(out, points, colors);
        return {{out, FileType::kPly, 0}};
    }

private:
    std::atomic<unsigned> mIncompleteAlignments;
};

}  // namespace

std::unique_ptr<Engine> makeTestEngine(const EngineOptions& options) {
    return std::make_unique<TestEngine>(options.incompleteAlignments);
}

}  // namespace kxservice
