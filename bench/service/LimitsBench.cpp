// The service under hostile load, its protocol driven in-process on two threads as its two network
// threads would drive it: the time a well-behaved session needs for a whole task (launch, progress to
// the end, results) alone, while two sessions launch a large configuration each, and after one session
// queued many tasks; and how much the process's peak memory grew for the large configurations. Then the
// binary at its defaults: how long stalled PUTs hold the store's room before a waiting upload is stored.
// Usage: bench_service_limits [photographs in the large configuration, default 44000 (about 48 MiB)]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/model/BenchSupport.h"
#include "config/SfmCfgJson.h"
#include "protocol/UserProto.h"
#include "service/ClientSession.h"
#include "service/Service.h"
#include "service/ServiceCore.h"
#include "tests/service/ServiceClient.h"
#include "vexkit/ThreadPool.h"

namespace fs = std::filesystem;
using namespace user_proto;
using Clock = std::chrono::steady_clock;

namespace {

FileKey keyOf(int n) {
    char text[33];
    std::snprintf(text, sizeof text, "%032x", n);
    std::array<char, 32> key;
    std::copy(text, text + 32, key.begin());
    return FileKey(key);
}

// Stores the bytes under the key as an upload would.
void store(kxservice::ServiceCore& core, const FileKey& key, const std::string& bytes) {
    auto upload = core.store().beginUpload(bytes.size());
    std::ofstream(upload->tmp, std::ios::binary) << bytes;
    core.store().commitUpload(*upload, key);
}

std::string configText(size_t nbPhotographs, int firstKey) {
    SfmCfg cfg;
    cfg.cameras.push_back({4000, 3000, 2900, 2900, 2000, 1500, 0.01f, 0, 0, 0, 0});
    cfg.poses.emplace();
    for (size_t i = 0; i < nbPhotographs; ++i) {
        SfmCfg::Pose pose;
        SfmCfg::Location location;
        location.cartesian = {12.5 + double(i), -3.25 * double(i), 101.125};
        location.covariance = std::array<std::array<float, 3>, 3>{{{0.1f, 0, 0}, {0, 0.1f, 0}, {0, 0, 0.4f}}};
        location.delta = 0.5f;
        pose.location = location;
        pose.rotation = {{0.1f, 0.2f, 0.3f}};
        cfg.poses->push_back(pose);
        SfmCfg::Image img;
        img.key = keyOf(firstKey + int(i));
        img.idxPose = uint32_t(i);
        img.name = "/home/someone/projects/survey/DJI_" + std::to_string(100000 + i) + ".JPG";
        cfg.images.push_back(img);
    }
    std::ostringstream os;
    writeSfmCfg(os, cfg);
    return os.str();
}

// A session whose requests run on the shared "network" threads, one after the other.
struct Session {
    Session(kxservice::ServiceCore& core, ThreadPool& net) : logic(core, "https://127.0.0.1:1"), net(net) {
        call(Request<kHandshake>{});
        Request<kLogin> login;
        login.username = "guest";
        call(login);
    }
    template <ReqType type>
    Response<type> call(Request<type> req) {
        req.hRequest = next++;
        const std::string text = writeRequest(req);
        auto out = net.enqueueStd([&] { return logic.onMessage(text); }).get();
        while (out.retryAt) {
            std::this_thread::sleep_until(*out.retryAt);
            out = net.enqueueStd([&] { return logic.poll(); }).get();
        }
        return std::get<Response<type>>(readResponse(out.reply));
    }
    kxservice::ClientSession logic;
    ThreadPool& net;
    uint32_t next = 0;
};

// The well-behaved session's whole task, in seconds (negative when it did not finish).
double wellBehaved(kxservice::ServiceCore& core, ThreadPool& net, const FileKey& config) {
    const auto t0 = Clock::now();
    Session s(core, net);
    Request<kLaunchSfmTask> launch;
    launch.config = config;
    Request<kQueryProgress> progress;
    progress.hTask = s.call(launch).hTask;
    while (progress.hTask != 0) {
        const auto res = s.call(progress);
        if (res.status == TaskStage::kFailed || res.error.code != 0) {
            return -1;
        }
        if (res.status == TaskStage::kFinished) {
            break;
        }
    }
    Request<kGetSfmResults> results;
    results.hTask = progress.hTask;
    const bool ok = progress.hTask != 0 && !s.call(results).items.empty();
    return ok ? std::chrono::duration<double>(Clock::now() - t0).count() : -1;
}

// The binary at its defaults (--upload-idle 30 s): two sessions each announce half of the store and stall
// after 64 KiB, and a third tries a small upload every 100 ms. The seconds from the stalls holding their
// room until that upload is stored (negative when it never was within two minutes).
double stalledRoomSeconds(const fs::path& dir) {
    kxtest::ServiceProcess service(KX_SERVICE_BIN, dir / "binary", "", dir / "binary.log");
    if (service.port == 0) {
        return -1;
    }
    kxtest::Client a(service.port, service.ca), b(service.port, service.ca),
        waiting(service.port, service.ca);
    const uint64_t half = kxservice::Options().maxStore / 2;
    std::vector<std::unique_ptr<kxtest::Https>> stalls;
    for (kxtest::Client* s : {&a, &b}) {
        const std::string key = "stands for half the store " + std::to_string(stalls.size());
        const std::string url = s->urlFor(key, half);
        stalls.push_back(std::make_unique<kxtest::Https>(
            url, service.ca,
            kxtest::putText(url, std::string(64 << 10, 's'), kxtest::contentMd5(key), half)));
        if (!kxtest::fileSays(dir / "binary.log", "receiving " + kxtest::keyOf(key).str())) {
            return -1;
        }
    }
    const auto t0 = Clock::now();
    for (int n = 0; n < 1200; ++n) {
        const std::string bytes = "waiting upload " + std::to_string(n);
        if (kxtest::httpsPut(waiting.urlFor(bytes), service.ca, bytes, kxtest::contentMd5(bytes)) == 201) {
            return std::chrono::duration<double>(Clock::now() - t0).count();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    const size_t nbLarge = argc > 1 ? std::stoul(argv[1]) : 44000;
    kxbench::fixAllocatorThresholds();
    const fs::path dir = fs::temp_directory_path() / ("kx-bench-limits-" + std::to_string(getpid()));
    kxservice::Options options;
    options.port = 0;
    options.dataDir = dir / "data";
    kxservice::Service service(options);
    service.start();
    kxservice::ServiceCore& core = service.core();
    ThreadPool net(2);

    store(core, keyOf(1), "the well-behaved session's photograph");
    const FileKey small = keyOf(2);
    {
        std::string text = configText(1, 1);
        store(core, small, text);
    }
    const double alone = wellBehaved(core, net, small);

    // Two sessions launch a large configuration each (its photographs are not stored: it is read whole,
    // then refused).
    const FileKey large[] = {keyOf(3), keyOf(4)};
    uint64_t largeBytes = 0;
    for (int i = 0; i < 2; ++i) {
        const std::string text = configText(nbLarge, 1000 + i * int(nbLarge));
        largeBytes = text.size();
        store(core, large[i], text);
    }
    malloc_trim(0);
    double duringLarge = 0;
    const uint64_t peakGrowth = kxbench::peakExtraBytes([&] {
        std::vector<std::thread> hostile;
        for (const FileKey& key : large) {
            hostile.emplace_back([&, key] {
                Session s(core, net);
                Request<kLaunchSfmTask> launch;
                launch.config = key;
                s.call(launch);
            });
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // both launches under way
        duringLarge = wellBehaved(core, net, small);
        for (std::thread& t : hostile) {
            t.join();
        }
    });

    // One session queues 400 tasks (as many as it is allowed), then the well-behaved session launches. The
    // session ends before the service stops: its end goes to the service's core.
    int nbQueued = 0;
    double afterQueue = 0;
    {
        Session greedy(core, net);
        Request<kLaunchSfmTask> launch;
        launch.config = small;
        for (int i = 0; i < 400; ++i) {
            nbQueued += greedy.call(launch).hTask != 0;
        }
        afterQueue = wellBehaved(core, net, small);
    }

    std::printf("well-behaved task alone: %.2f s\n", alone);
    std::printf(
        "large configuration: %.1f MiB; two launched at once: peak memory grew %.0f MiB (%.1f times "
        "the file); well-behaved task meanwhile: %.2f s\n",
        largeBytes / 1048576.0, kxbench::mib(peakGrowth), double(peakGrowth) / double(largeBytes),
        duringLarge);
    std::printf("one session queued %d of 400 tasks; well-behaved task after it: %.2f s\n", nbQueued,
                afterQueue);
    service.stop();
    const double stalled = stalledRoomSeconds(dir);
    std::printf(
        "binary at its defaults: two stalled PUTs held the store's room for %.1f s before a waiting "
        "upload was stored (--upload-idle %lld s)\n",
        stalled,
        static_cast<long long>(
            std::chrono::duration_cast<std::chrono::seconds>(kxservice::Options().uploadIdle).count()));
    fs::remove_all(dir);
    return alone > 0 && duringLarge > 0 && afterQueue > 0 && stalled > 0 ? 0 : 1;
}
