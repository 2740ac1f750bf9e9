// The service binary with short limits against hostile peers on loopback while a well-behaved session runs
// whole tasks on the test engine; outcomes are read from the protocol, the HTTP statuses and the log.
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <atomic>
#include <future>
#include <functional>
#include <thread>

#include "service/ClientSession.h"
#include "service/Limits.h"
#include "service/Service.h"
#include "service/Subprocess.h"
#include "service/TaskManager.h"
#include "tests/service/ServiceClient.h"
#include "tests/support/TestSupport.h"

namespace kxtest {
namespace {

namespace fs = std::filesystem;
constexpr uint64_t kMiB = 1 << 20;

class Hostile : public ::testing::Test {
protected:
    // Starts the binary with these options, after the shell text given (a descriptor limit).
    void start(const std::string& options, const std::string& shell = "") {
        mService = std::make_unique<ServiceProcess>(KX_SERVICE_BIN, data(), options, mDir / "log", shell);
        mPort = mService->port;
        mCa = mService->ca;
        ASSERT_NE(mPort, 0) << log();
        EXPECT_EQ(mCa, fs::canonical(data()) / "ca.pem");
    }
    // SIGTERM: exit status 0, no partial upload and no file others may read but the public certificates.
    void stop() {
        if (!mService) {
            return;
        }
        EXPECT_EQ(mService->stop(), 0) << log();
        mService.reset();
        EXPECT_TRUE(fs::is_empty(data() / "store" / "partial"));
        EXPECT_EQ(fs::status(data()).permissions(), fs::perms::owner_all);
        for (const auto& e : fs::recursive_directory_iterator(data())) {
            const auto name = e.path().filename();
            EXPECT_TRUE(!e.is_regular_file() || name == "ca.pem" || name == "server.pem" ||
                        (e.status().permissions() & fs::perms::others_all) == fs::perms::none)
                << e.path();
        }
    }
    void TearDown() override { stop(); }

    fs::path data() const { return mDir / "data"; }
    std::string log() const { return readFile(mDir / "log"); }
    bool logSays(const std::string& text) const { return fileSays(mDir / "log", text); }
    std::unique_ptr<Client> session(const std::string& from = "127.0.0.1") {
        return std::make_unique<Client>(mPort, mCa, from);
    }
    // TCP connections to the service from that loopback address, sending nothing.
    std::vector<net::ip::tcp::socket> connections(const std::string& from, int nb) {
        std::vector<net::ip::tcp::socket> held;
        for (int i = 0; i < nb; ++i) {
            connectFrom(held.emplace_back(mIoc), mPort, from);
        }
        return held;
    }
    // Whole tasks in a well-behaved session, one after the other, until hostile() returns (at least one):
    // their handles. Its download URLs end with it.
    std::vector<TaskHandle> wellBehavedWhile(const std::function<void()>& hostile) {
        std::atomic<bool> done{false};
        std::vector<TaskHandle> tasks;
        std::string lastUrl;
        auto well = session();
        auto worker = std::async(std::launch::async, [&] {
            for (int n = 0; n == 0 || (!done && n < 200 && !lastUrl.empty()); ++n) {
                std::tie(tasks.emplace_back(), lastUrl) = well->wholeTask("well" + std::to_string(n));
            }
        });
        hostile();
        done = true;
        EXPECT_NO_THROW(worker.get());
        well.reset();
        int status = 200;
        for (int n = 0; n < 250 && status == 200 && !lastUrl.empty(); ++n) {  // until the end is seen
            status = httpsGet(lastUrl, mCa);
        }
        EXPECT_TRUE(lastUrl.empty() || status == 404) << status;  // a failed task said so already
        return tasks;
    }

    TempDir mDir;
    net::io_context mIoc;
    std::unique_ptr<ServiceProcess> mService;
    uint16_t mPort = 0;
    fs::path mCa;
};

// PUTs refused from their headers read their status while their bodies are on the way, and wrong uploads
// store nothing. A trickle is ended once others were refused for room while it crawled, and a stalled PUT
// holds its room until the idle limit ends it: both give their room back.
TEST_F(Hostile, StalledSlowOrRefusedUploadsGiveTheirRoomBack) {
    const uint64_t share = 27 * kMiB / 4;  // of a session's unfinished uploads: half the store
    ASSERT_NO_FATAL_FAILURE(
        start("--max-store " + std::to_string(2 * share) + " --max-body " + std::to_string(7 * kMiB) +
              " --upload-idle 3 --upload-rate-window 1 --upload-min-rate " + std::to_string(kMiB)));
    auto a = session(), b = session(), t = session();
    int nbProbes = 0;
    const auto probe = [&](Client& s) {  // 900 KiB that nobody uploaded before
        const std::string bytes = std::string(900 << 10, 'q') + std::to_string(nbProbes++);
        return httpsPut(s.urlFor(bytes), mCa, bytes, contentMd5(bytes));
    };
    wellBehavedWhile([&] {
        const std::string begun(512 << 10, 'p'), bytes = "the bytes of an image",
                                                 other = "the bytes of another";
        const std::string md5 = contentMd5(bytes),
                          bogus = "https://127.0.0.1:" + std::to_string(mPort) + "/upload/x";
        const auto url = [&](uint64_t size) { return b->urlFor(bytes, size); };
        for (int round = 0; round < 3; ++round) {
            // 512 KiB of the body on the way.
            EXPECT_EQ(httpsPut(bogus, mCa, begun, md5, 6 * kMiB), 403);
            EXPECT_EQ(httpsPut(url(6 * kMiB), mCa, begun, md5, 6 * kMiB + 1), 400);  // other than announced
            EXPECT_EQ(httpsPut(url(8 * kMiB), mCa, begun, md5, 8 * kMiB), 413);      // over --max-body
            EXPECT_EQ(httpsPut(url(share + 1), mCa, begun, md5, share + 1), 413);  // over the session's share
            // Whole bodies.
            EXPECT_EQ(httpsPut(url(bytes.size()), mCa, bytes, contentMd5(other)), 400);
            EXPECT_EQ(httpsPut(url(bytes.size()), mCa, bytes, ""), 400);
            EXPECT_EQ(httpsPut(url(other.size()), mCa, other, md5), 400);  // not the key's bytes
            EXPECT_EQ(httpsPut(url(bytes.size()), mCa, bytes, md5, {}, true), 411);
            EXPECT_FALSE(fs::exists(data() / "store" / keyOf(bytes).str()));
        }
        // A URL serves one PUT of its own key.
        const std::string own = b->urlFor(bytes), another = b->urlFor(other);
        EXPECT_EQ(httpsPut(another, mCa, bytes, md5), 400);
        EXPECT_EQ(httpsPut(own, mCa, bytes, md5), 201);
        EXPECT_EQ(httpsPut(own, mCa, bytes, md5), 403);
        EXPECT_EQ(httpsPut(another, mCa, other, contentMd5(other)), 403);
        EXPECT_EQ(b->urlFor(bytes), "");  // stored now

        // A trickle and a stall hold 6.5 MiB each.
        const std::string trickled(13 * kMiB / 2, 't'), stalled(13 * kMiB / 2, 's');
        const std::string trickleUrl = t->urlFor(trickled), stallUrl = a->urlFor(stalled);
        Https trickle(trickleUrl, mCa, putText(trickleUrl, "", contentMd5(trickled), trickled.size()));
        ASSERT_TRUE(logSays("receiving " + keyOf(trickled).str()));
        bool trickleCut = false;
        auto crawl = std::async(std::launch::async, [&] {  // 1 KiB every 25 ms, far under the least rate
            beast::error_code ec;
            for (int n = 0; n < 800 && !ec; ++n) {
                net::write(trickle.s, net::buffer(std::string(1024, 'w')), ec);
                std::this_thread::sleep_for(std::chrono::milliseconds(25));
            }
            trickleCut = bool(ec);
        });
        Https stall(stallUrl, mCa,
                    putText(stallUrl, stalled.substr(0, 64 << 10), contentMd5(stalled), stalled.size()));
        EXPECT_TRUE(logSays("receiving " + keyOf(stalled).str()));
        EXPECT_EQ(probe(*b), 413);  // no room left, which either alone would leave
        EXPECT_EQ(probe(*a), 413);  // past its session's share
        EXPECT_NO_THROW(crawl.get());
        EXPECT_TRUE(trickleCut);
        EXPECT_TRUE(logSays("upload of " + keyOf(trickled).str() + " too slow while others wait for room"));
        EXPECT_EQ(stall.status(), 0);  // ended without an answer
        EXPECT_TRUE(logSays("upload of " + keyOf(stalled).str() + " cut after"));
        for (Client* s : {a.get(), t.get(), b.get()}) {
            EXPECT_EQ(probe(*s), 201);
        }
    });
    // An upload under way when the service stops leaves nothing.
    const std::string cut(4 * kMiB, 'c');
    const std::string cutUrl = b->urlFor(cut);
    Https underWay(cutUrl, mCa, putText(cutUrl, cut.substr(0, kMiB), contentMd5(cut), cut.size()));
    ASSERT_TRUE(logSays("receiving " + keyOf(cut).str()));
    stop();
    EXPECT_FALSE(fs::exists(data() / "store" / keyOf(cut).str()));
}

// Connections from one address over its cap are closed at once while the others stay open; once
// those close, a session from there gets in. Texts out of turn, not requests or over the size cap close
// their session.
TEST_F(Hostile, ConnectionsOverTheCapAreClosedAndMalformedSessionsEnd) {
    ASSERT_NO_FATAL_FAILURE(start("--max-connections-per-address 8 --max-connections 64"));
    wellBehavedWhile([&] {
        for (const std::string from : {"127.0.0.2", "127.0.0.3", "127.0.0.4"}) {
            auto held = connections(from, 9);
            char c = 0;
            beast::error_code ec;
            held[8].receive(net::buffer(&c, 1), 0, ec);
            EXPECT_EQ(ec, net::error::eof) << from;  // closed at once
            for (int i = 0; i < 8; ++i) {            // while the others stay open
                held[i].non_blocking(true);
                held[i].receive(net::buffer(&c, 1), 0, ec);
                EXPECT_EQ(ec, net::error::would_block) << from;
            }
            held.clear();
            std::unique_ptr<Client> s;
            for (int n = 0; n < 250 && !s; ++n) {  // until the service has seen them close
                try {
                    s = session(from);
                } catch (const std::exception&) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                }
            }
            ASSERT_TRUE(s) << from;
            EXPECT_FALSE(s->urlFor("uploaded from " + from).empty());
        }
        Request<kLogin> guest;
        guest.username = "guest";
        const std::vector<std::string> rows[] = {
            // The last text of each row closes the session.
            {writeRequest(guest)},
            {writeRequest(Request<kHandshake>{}), writeRequest(Request<kQueryProgress>{})},
            {std::string(kxservice::kMaxMessageBytes + 1, ' ')},
        };
        for (const auto& texts : rows) {
            Client s(mPort, mCa, "127.0.0.1", true);
            for (size_t i = 0; i + 1 < texts.size(); ++i) {
                s.send(texts[i]);
                EXPECT_NO_THROW(s.receive());
            }
            EXPECT_ANY_THROW({
                s.send(texts.back());
                s.receive();
            }) << texts.back().substr(0, 60);
        }
    });
}

// A flooding session is refused at its caps (code 16) until it holds as many finished tasks as it may; the
// well-behaved session's tasks still overtake the flood's. Wrong launch inputs are refused with their
// reason while two sessions launch a large configuration. A session's uncollected tasks end with it.
TEST_F(Hostile, LaunchesAreRefusedAtTheirCapsAndOthersStillTakeTheirTurn) {
    ASSERT_NO_FATAL_FAILURE(start("--max-tasks 1"));
    auto flood = session(), d = session();
    std::vector<TaskHandle> floodTasks;
    std::vector<uint32_t> refusals;
    std::string lastRefusal;
    size_t nbBeforeRefused = 0;
    const std::vector<TaskHandle> wellTasks = wellBehavedWhile([&] {
        auto flooding = std::async(std::launch::async, [&] {
            Request<kLaunchSfmTask> launch;
            launch.config = flood->upload(configText({flood->upload("photograph of the flood")}));
            for (int n = 0; n < 20000 && lastRefusal.find("not asked for") == std::string::npos; ++n) {
                const auto res = flood->call(launch);
                if (res.hTask != 0) {
                    floodTasks.push_back(res.hTask);
                } else {
                    nbBeforeRefused = refusals.empty() ? floodTasks.size() : nbBeforeRefused;
                    refusals.push_back(res.sfmErr.code);
                    lastRefusal = res.sfmErr.message;
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
            }
        });
        std::vector<FileKey> absent;  // 10,000 photographs under names of 2 KiB: 21 MiB
        for (int i = 0; i < 10000; ++i) {
            absent.push_back(keyOf("absent photograph " + std::to_string(i)));
        }
        const FileKey large = d->upload(configText(absent, 0, "/" + std::string(2048, 'd')));
        std::vector<std::future<void>> largeLaunches;
        for (int i = 0; i < 2; ++i) {
            largeLaunches.push_back(std::async(std::launch::async, [&] {
                Request<kLaunchSfmTask> launch;
                launch.config = large;
                const auto res = session()->call(launch);
                EXPECT_EQ(res.sfmErr.code, kxservice::kMissingFiles) << res.sfmErr.message;
                EXPECT_EQ(res.sfmErr.missingFiles.size(), absent.size());
            }));
        }
        const FileKey img = d->upload("a photograph"), missing = keyOf("never uploaded");
        const FileKey notJson = d->upload("{ not json");
        const struct {
            FileKey config;
            uint32_t code;
            std::vector<FileKey> missing;
            std::string says;
        } rows[] = {
            {missing, kxservice::kMissingFiles, {missing}, "not stored"},
            {d->upload(configText({img, missing})), kxservice::kMissingFiles, {missing}, "not stored"},
            {d->upload(configText({img}, 3)), kxservice::kInconsistentInput, {}, "names camera 3"},
            {notJson, kxservice::kUnreadableInput, {}, "does not read"},
            {d->upload(std::string(100000, '[') + std::string(100000, ']')),
             kxservice::kUnreadableInput,
             {},
             "deeper"},
            {d->upload(configText({img, keyOf("other"), img})),
             kxservice::kInconsistentInput,
             {},
             "the configuration names photograph " + img.str() + " twice"},
        };
        for (int round = 0; round < 3; ++round) {
            for (const auto& row : rows) {
                Request<kLaunchSfmTask> launch;
                launch.config = row.config;
                const auto res = d->call(launch);
                EXPECT_EQ(res.sfmErr.code, row.code) << res.sfmErr.message;
                EXPECT_EQ(res.sfmErr.missingFiles, row.missing);
                EXPECT_NE(res.sfmErr.message.find(row.says), std::string::npos) << res.sfmErr.message;
            }
        }
        Request<kLaunchMvsTask> mvs;
        mvs.ksmFile = notJson;
        EXPECT_EQ(d->call(mvs).mvsErr.code, kxservice::kUnreadableInput);
        mvs.ksmFile = img;
        mvs.images.assign(kxservice::limits::kMaxPhotographs + 1, img);
        EXPECT_EQ(d->call(mvs).mvsErr.code, kxservice::kInconsistentInput);
        for (auto& l : largeLaunches) {
            EXPECT_NO_THROW(l.get());
        }
        EXPECT_NO_THROW(flooding.get());
    });
    EXPECT_FALSE(refusals.empty());
    EXPECT_EQ(std::count(refusals.begin(), refusals.end(), uint32_t(kxservice::kOverLimit)),
              ptrdiff_t(refusals.size()));
    EXPECT_GE(nbBeforeRefused, kxservice::limits::kMaxSessionTasks);
    // Never asking for results, it is held at last by the tasks it left finished.
    EXPECT_NE(lastRefusal.find(std::to_string(kxservice::limits::kMaxSessionUncollected) + " finished tasks"),
              std::string::npos)
        << lastRefusal;
    EXPECT_LE(floodTasks.size(),
              kxservice::limits::kMaxSessionTasks + kxservice::limits::kMaxSessionUncollected);
    // The order in which the single worker took the tasks, from the log.
    const std::string text = log();
    const auto at = [&](TaskHandle task, const char* what) {
        return text.find("task " + kxservice::hex64(task) + " " + what);
    };
    size_t nbOvertaken = 0;
    for (TaskHandle w : wellTasks) {
        const size_t queued = at(w, "queued"), running = at(w, "running");
        ASSERT_NE(running, std::string::npos);
        size_t nbBetween = 0;
        for (TaskHandle f : floodTasks) {
            nbBetween += at(f, "running") > queued && at(f, "running") < running;
            nbOvertaken += at(f, "queued") < queued && at(f, "running") > running;
        }
        EXPECT_LE(nbBetween, 1u);
    }
    EXPECT_GT(nbOvertaken, 0u);
    flood.reset();
    const auto nbLeft = [&] {
        return std::count_if(floodTasks.begin(), floodTasks.end(), [&](TaskHandle f) {
            return fs::exists(data() / "tasks" / kxservice::hex64(f));
        });
    };
    for (int n = 0; n < 1500 && nbLeft() > 0; ++n) {  // until the service has seen the session end
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(nbLeft(), 0);
    stop();
    for (TaskHandle w : wellTasks) {
        EXPECT_TRUE(fs::exists(data() / "tasks" / kxservice::hex64(w)));
    }
}

// Out of descriptors, the acceptor says so once and waits; once the holders close, it serves again.
TEST_F(Hostile, OutOfDescriptorsTheAcceptorWaitsAndServesOnceOthersClose) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the sanitizers' own checks need descriptors: out of them, they report false errors";
#endif
    ASSERT_NO_FATAL_FAILURE(start("", "ulimit -n 40 && "));
    auto held = connections("127.0.0.1", 50);
    EXPECT_TRUE(logSays("no descriptor left"));
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));  // the acceptor retries meanwhile
    const std::string during = log();
    EXPECT_EQ(during.find("no descriptor left"), during.rfind("no descriptor left"));  // said once
    held.clear();
    EXPECT_FALSE(session()->urlFor("uploaded once served again").empty());
}

// The executable's exit statuses when it cannot run, and what its subprocesses may hold.
TEST(Binary, ExitStatusSaysWhyItDidNotRun) {
    TempDir dir;
    kxservice::Options options;  // holds a port
    options.dataDir = dir / "data";
    options.port = 0;
    kxservice::Service held(options);
    const uint16_t port = held.start().port;
    writeFile(dir / "file", "not a directory");
    const struct {
        std::vector<std::string> args;
        int status;
    } rows[] = {
        {{"--bogus"}, 2},
        {{"--upload-idle", "0"}, 2},
        {{"--listen", "10.1.2.3:47443"}, 2},  // not loopback without --allow-remote
        {{"--listen", "127.0.0.1:" + std::to_string(port), "--data-dir", (dir / "d2").string()}, 1},
        {{"--listen", "127.0.0.1:0", "--data-dir", (dir / "file").string()}, 1},
    };
    for (const auto& row : rows) {
        std::vector<std::string> argv = row.args;
        argv.insert(argv.begin(), KX_SERVICE_BIN);
        const auto r = kxservice::runSubprocess({argv, dir.path(), dir / "log", std::chrono::seconds(20)});
        EXPECT_TRUE(r.end == kxservice::SubprocessResult::End::kExited && r.status == row.status)
            << argv[1] << ": " << r.describe() << "\n"
            << readFile(dir / "log");
    }
}

// A stand-in engine program that lists its descriptors and leaves one child in its group and one that
// escaped it: neither may keep a socket of the service, so the port binds again at once.
TEST(Binary, SubprocessesHoldNoDescriptorOfTheServiceAndLeaveNothingInTheirGroup) {
    TempDir dir;
    kxservice::Options options;
    options.dataDir = dir / "data";
    options.port = 0;
    auto service = std::make_unique<kxservice::Service>(options);
    options.port = service->start().port;
    const int plain = ::socket(AF_INET, SOCK_STREAM, 0);  // opened without close-on-exec
    writeFile(dir / "colmap",
              "#!/bin/sh\nls -l /proc/$$/fd > fds\nsleep 30 &\necho $! > grouped\n"
              "setsid sleep 30 &\necho $! > escaped\nsleep 0.2\n");
    chmod((dir / "colmap").c_str(), 0700);
    const auto r = kxservice::runSubprocess(
        {{(dir / "colmap").string()}, dir.path(), dir / "log", std::chrono::seconds(20)});
    ::close(plain);
    EXPECT_TRUE(r.ok()) << r.describe() << readFile(dir / "log");
    EXPECT_EQ(readFile(dir / "fds").find("socket:"), std::string::npos) << readFile(dir / "fds");
    const auto gone = [](const std::string& pid) {
        for (int n = 0; n < 250; ++n) {  // a zombie left to an init that does not reap counts as gone
            const std::string stat = readFile("/proc/" + pid + "/stat");
            if (stat.empty() || stat.find(") Z") != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    };
    const std::string grouped = readFile(dir / "grouped"), escaped = readFile(dir / "escaped");
    EXPECT_TRUE(gone(grouped.substr(0, grouped.find('\n'))));
    service.reset();
    EXPECT_NO_THROW(kxservice::Service(options).start());
    kill(std::stoi(escaped), SIGKILL);
}

}  // namespace
}  // namespace kxtest
