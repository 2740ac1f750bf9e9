// The service's protocol, its upload URLs and its store: session rules, launch checks, uploads that are
// stored only when their length and digest are right, the store's eviction, many sessions at once, and
// the caps that hold against hostile peers while a well-behaved session still gets its task done.
// The service runs in-process on 127.0.0.1, port 0; tests speak the protocol through its own session
// logic (the WebSocket around it is exercised by the client's flows against the binary) and send HTTPS
// requests to its URLs, verifying its certificate against its CA.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include <boost/asio/connect.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/uuid/detail/md5.hpp>
#include <gtest/gtest.h>

#include "config/SfmCfgJson.h"
#include "protocol/UserProto.h"
#include "service/ClientSession.h"
#include "service/FairQueue.h"
#include "service/Limits.h"
#include "service/Service.h"
#include "service/ServiceCore.h"
#include "tests/support/TestSupport.h"

namespace kxtest {
namespace {

using namespace user_proto;
namespace beast = boost::beast;
namespace net = boost::asio;

// A protocol session on the running service.
struct Session {
    Session(kxservice::ServiceCore& core, uint16_t port)
        : logic(core, "https://127.0.0.1:" + std::to_string(port)) {}
    // Sends the request (numbered in order) and reads the answer, waiting out the progress pace.
    template <ReqType type>
    Response<type> call(Request<type> req) {
        req.hRequest = next++;
        auto out = logic.onMessage(writeRequest(req));
        while (out.retryAt) {
            std::this_thread::sleep_until(*out.retryAt);
            out = logic.poll();
        }
        EXPECT_FALSE(out.close) << out.reason;
        return std::get<Response<type>>(readResponse(out.reply));
    }

    kxservice::ClientSession logic;
    uint32_t next = 0;
};

// An HTTPS connection that has sent text, a request whole or in part, to url's host.
struct Https {
    Https(const std::string& url, const std::filesystem::path& caFile, const std::string& text) {
        const size_t hostStart = url.find("://") + 3;
        const size_t colon = url.find(':', hostStart);
        const std::string host = url.substr(hostStart, colon - hostStart);
        tls.load_verify_file(caFile.string());
        tls.set_verify_mode(net::ssl::verify_peer);
        auto& tcp = beast::get_lowest_layer(s);
        tcp.expires_after(std::chrono::seconds(30));
        tcp.connect(net::ip::tcp::resolver(ioc).resolve(
            host, url.substr(colon + 1, url.find('/', colon) - colon - 1)));
        s.set_verify_callback(net::ssl::host_name_verification(host));
        s.handshake(net::ssl::stream_base::client);
        beast::error_code ec;  // a refusal before the whole text was read shows in the status
        net::write(s, net::buffer(text), ec);
    }
    int status() {  // of the reply, 0 when there was none
        beast::flat_buffer buf;
        beast::http::response_parser<beast::http::string_body> p;
        beast::error_code ec;
        beast::http::read(s, buf, p, ec);
        return p.is_header_done() ? p.get().result_int() : 0;
    }

    net::io_context ioc;
    net::ssl::context tls{net::ssl::context::tls_client};
    beast::ssl_stream<beast::tcp_stream> s{ioc, tls};
};

// The text of a PUT of body to url, with a Content-MD5 header unless md5 is empty, announcing length
// bytes (default: the body's), or in chunked encoding when chunked.
std::string putText(const std::string& url, const std::string& body, const std::string& md5,
                    std::optional<uint64_t> length = {}, bool chunked = false) {
    const size_t hostStart = url.find("://") + 3;
    const size_t slash = url.find('/', hostStart);
    std::ostringstream text;
    text << "PUT " << url.substr(slash) << " HTTP/1.1\r\nHost: " << url.substr(hostStart, slash - hostStart)
         << "\r\n";
    if (!md5.empty()) {
        text << "Content-MD5: " << md5 << "\r\n";
    }
    if (chunked) {
        text << "Transfer-Encoding: chunked\r\n\r\n"
             << std::hex << body.size() << "\r\n"
             << body << "\r\n0\r\n\r\n";
    } else {
        text << "Content-Length: " << length.value_or(body.size()) << "\r\n\r\n" << body;
    }
    return text.str();
}
int httpsPut(const std::string& url, const std::filesystem::path& caFile, const std::string& body,
             const std::string& md5, bool chunked = false) {
    return Https(url, caFile, putText(url, body, md5, {}, chunked)).status();
}

// The content key of bytes, and the Content-MD5 header of them.
FileKey keyOf(const std::string& bytes) {
    boost::uuids::detail::md5 md5;
    md5.process_bytes(bytes.data(), bytes.size());
    boost::uuids::detail::md5::digest_type w;
    md5.get_digest(w);
    return FileKey(encodeHex({w[0], w[1], w[2], w[3]}));
}
std::string contentMd5(const std::string& bytes) {
    const auto b64 = keyOf(bytes).base64();
    return std::string(b64.data(), b64.size());
}

class Service : public ::testing::Test {
protected:
    void startService(kxservice::Options options = {}) {
        options.dataDir = mDir / "data";
        options.port = 0;
        mService = std::make_unique<kxservice::Service>(options);
        mPort = mService->start().port;
    }
    const std::filesystem::path& ca() const { return mService->caFile(); }
    kxservice::ServiceCore& core() { return mService->core(); }

    std::unique_ptr<Session> connect() {  // logged in as "guest"
        auto s = std::make_unique<Session>(core(), mPort);
        EXPECT_EQ(s->call(Request<kHandshake>{}).protocolVersion, 1u);
        Request<kLogin> login;
        login.username = "guest";
        EXPECT_EQ(s->call(login).error.code, 0u);
        return s;
    }
    // The upload URL of those bytes as announced with size (default: theirs), empty when already stored.
    std::string urlFor(Session& s, const std::string& bytes, std::optional<uint64_t> size = {}) {
        Request<kGetUploadUrl> req;
        req.key = keyOf(bytes);
        req.size = size.value_or(bytes.size());
        const auto res = s.call(req);
        EXPECT_EQ(res.error.code, 0u) << res.error.message;
        return res.skipUpload ? "" : res.url;
    }
    // Uploads the bytes; returns their key. Expects the service not to have them.
    FileKey upload(Session& s, const std::string& bytes) {
        const std::string url = urlFor(s, bytes);
        EXPECT_FALSE(url.empty()) << "already stored";
        EXPECT_EQ(httpsPut(url, ca(), bytes, contentMd5(bytes)), 201);
        return keyOf(bytes);
    }
    // Launches an SfM task and asks for its progress until it ends: its handle, and whether it finished.
    std::pair<TaskHandle, bool> runTask(Session& s, const FileKey& config) {
        Request<kLaunchSfmTask> launch;
        launch.config = config;
        Request<kQueryProgress> progress;
        progress.hTask = s.call(launch).hTask;
        TaskStage stage = TaskStage::kPending;
        for (int n = 0; n < 500 && stage != TaskStage::kFinished && stage != TaskStage::kFailed; ++n) {
            stage = s.call(progress).status;
        }
        return {progress.hTask, stage == TaskStage::kFinished};
    }
    // A configuration of one camera and the given images (stored under those keys) as JSON text.
    static std::string configText(const std::vector<FileKey>& images, uint32_t idxCam = 0) {
        SfmCfg cfg;
        cfg.cameras.push_back({4000, 3000, 2900, 2900, 2000, 1500, 0.01f, 0, 0, 0, 0});
        for (size_t i = 0; i < images.size(); ++i) {
            SfmCfg::Image img;
            img.key = images[i];
            img.idxCam = idxCam;
            img.name = "/photos/IMG_" + std::to_string(i) + ".jpg";
            cfg.images.push_back(img);
        }
        std::ostringstream os;
        writeSfmCfg(os, cfg);
        return os.str();
    }

    TempDir mDir;
    std::unique_ptr<kxservice::Service> mService;
    uint16_t mPort = 0;
};

TEST_F(Service, OutOfTurnOrMalformedRequestsCloseTheSession) {
    startService();
    Request<kLogin> guest;
    guest.username = "guest";
    const std::vector<std::string> rows[] = {
        // The last text of each row must close the session.
        {writeRequest(guest)},
        {writeRequest(Request<kHandshake>{}), writeRequest(Request<kQueryProgress>{})},
        {std::string(kxservice::kMaxMessageBytes + 1, ' ')},
    };
    for (const auto& texts : rows) {
        Session s(core(), mPort);
        for (size_t i = 0; i < texts.size(); ++i) {
            EXPECT_EQ(s.logic.onMessage(texts[i]).close, i + 1 == texts.size()) << texts[i].substr(0, 60);
        }
    }
}

TEST_F(Service, LaunchesAreRefusedWithTheReasonAndTheMissingFiles) {
    startService();
    auto s = connect();
    const FileKey stored = upload(*s, "a stored image");
    const FileKey absent = keyOf("never uploaded");
    const FileKey notJson = upload(*s, "{ not json");
    const struct {
        FileKey config;
        uint32_t code;
        std::vector<FileKey> missing;
    } rows[] = {
        {absent, kxservice::kMissingFiles, {absent}},
        {upload(*s, configText({stored, absent})), kxservice::kMissingFiles, {absent}},
        {upload(*s, configText({stored}, 3)), kxservice::kInconsistentInput, {}},
        {notJson, kxservice::kUnreadableInput, {}},
    };
    for (const auto& row : rows) {
        Request<kLaunchSfmTask> launch;
        launch.config = row.config;
        const auto res = s->call(launch);
        EXPECT_EQ(res.sfmErr.code, row.code) << res.sfmErr.message;
        EXPECT_EQ(res.sfmErr.missingFiles, row.missing);
    }
    // MVS: a file that is no sparse model.
    Request<kLaunchMvsTask> mvs;
    mvs.ksmFile = notJson;
    EXPECT_EQ(s->call(mvs).mvsErr.code, kxservice::kUnreadableInput);
}

TEST_F(Service, ATaskWhoseSessionEndsBeforeItsResultsIsCancelledAndRemoved) {
    startService();
    auto s = connect();
    Request<kLaunchSfmTask> launch;
    launch.config = upload(*s, configText({upload(*s, "first image"), upload(*s, "second image")}));
    const TaskHandle task = s->call(launch).hTask;
    ASSERT_TRUE(core().tasks().status(task));
    s.reset();
    EXPECT_FALSE(core().tasks().status(task));
    // A worker may have taken it already: its directory goes once the worker has let go of it, which
    // stopping the service waits for.
    mService->stop();
    EXPECT_TRUE(std::filesystem::is_empty(mDir / "data" / "tasks"));
}

TEST_F(Service, FiftySessionsRunTheirTasksAtOnce) {
    kxservice::Options options;
    options.maxTasks = 4;
    options.nbNetThreads = 3;
    startService(options);
    std::atomic<int> nbFinished{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < 50; ++i) {
        clients.emplace_back([&, i] {
            auto s = connect();
            Request<kLaunchSfmTask> launch;
            launch.config = upload(*s, configText({upload(*s, "image of session " + std::to_string(i))}));
            Request<kQueryProgress> progress;
            progress.hTask = s->call(launch).hTask;
            for (int n = 0; n < 500; ++n) {
                const auto res = s->call(progress);
                if (res.error.code != 0 || res.status == TaskStage::kFailed ||
                    res.status == TaskStage::kFinished) {
                    nbFinished += res.status == TaskStage::kFinished;
                    break;
                }
            }
        });
    }
    for (std::thread& t : clients) {
        t.join();
    }
    EXPECT_EQ(nbFinished.load(), 50);
}

TEST_F(Service, WrongUploadsAreRefusedAndLeaveNothingStored) {
    kxservice::Options options;
    options.maxBody = 1000;
    startService(options);
    auto s = connect();
    const std::string bytes = "the bytes of an image", other = "the bytes of another image";
    const std::string md5 = contentMd5(bytes), big(1001, 'a');
    const auto storedAnywhere = [&] {
        return !std::filesystem::is_empty(mDir / "data" / "store" / "partial") ||
               core().store().has(keyOf(bytes)) ||
               std::filesystem::exists(mDir / "data" / "store" / keyOf(bytes).str());
    };
    const struct {
        const char* name;
        std::string body;
        std::string url;
        std::string md5;
        bool chunked;
        int status;
    } rows[] = {
        {"wrong Content-MD5", bytes, urlFor(*s, bytes), contentMd5(other), false, 400},
        {"no Content-MD5", bytes, urlFor(*s, bytes), "", false, 400},
        {"bytes not matching the key", other, urlFor(*s, bytes, other.size()), md5, false, 400},
        {"length other than announced", bytes, urlFor(*s, bytes, bytes.size() + 1), md5, false, 400},
        {"chunked body", bytes, urlFor(*s, bytes), md5, true, 411},
        {"over --max-body", big, urlFor(*s, bytes, big.size()), md5, false, 413},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(httpsPut(row.url, ca(), row.body, row.md5, row.chunked), row.status) << row.name;
        EXPECT_FALSE(storedAnywhere()) << row.name;
    }
    // A URL serves one PUT of its own key only.
    const std::string url = urlFor(*s, bytes), otherUrl = urlFor(*s, other);
    EXPECT_EQ(httpsPut(otherUrl, ca(), bytes, md5), 400);
    EXPECT_EQ(httpsPut(url, ca(), bytes, md5), 201);
    EXPECT_EQ(httpsPut(url, ca(), bytes, md5), 403);
    EXPECT_EQ(httpsPut(otherUrl, ca(), other, contentMd5(other)), 403);
    EXPECT_EQ(urlFor(*s, bytes), "");  // now stored: skip
    // The URLs of a session end with it, and an upload under way when the service stops leaves nothing.
    const std::string orphan = urlFor(*s, other), sent(1 << 20, 'p'), cutUrl = urlFor(*s, sent, 64 << 20);
    Https cut(cutUrl, ca(), putText(cutUrl, sent, contentMd5(sent), 64 << 20));
    s.reset();
    EXPECT_EQ(httpsPut(orphan, ca(), other, contentMd5(other)), 403);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    mService->stop();
    EXPECT_TRUE(std::filesystem::is_empty(mDir / "data" / "store" / "partial"));
    EXPECT_FALSE(std::filesystem::exists(mDir / "data" / "store" / keyOf(sent).str()));
}

TEST_F(Service, TheStoreEvictsLeastRecentlyUsedFilesThatNoTaskHolds) {
    kxservice::Options options;
    options.maxStore = 3000;
    startService(options);
    auto s = connect();
    const std::string a(1000, 'a'), b(1000, 'b'), c(1000, 'c'), d(1000, 'd'), e(1000, 'e'), huge(3001, 'h');
    upload(*s, a);
    upload(*s, b);
    upload(*s, c);
    EXPECT_EQ(urlFor(*s, a), "");  // a used again: b is now the oldest
    upload(*s, d);
    EXPECT_TRUE(core().store().has(keyOf(a)));
    EXPECT_FALSE(core().store().has(keyOf(b)));
    EXPECT_FALSE(std::filesystem::exists(mDir / "data" / "store" / keyOf(b).str()));
    EXPECT_LE(core().store().storedBytes(), 3000u);
    // Held files are never evicted: with all three held, no room is made.
    const std::vector<FileKey> held{keyOf(a), keyOf(c), keyOf(d)};
    std::vector<FileKey> missing;
    ASSERT_TRUE(core().store().pinAll(held, missing));
    EXPECT_EQ(httpsPut(urlFor(*s, e), ca(), e, contentMd5(e)), 413);
    for (const FileKey& key : held) {
        EXPECT_TRUE(core().store().has(key));
    }
    core().store().unpinAll(held);
    // Nothing is evicted for an upload that cannot fit anyway.
    EXPECT_EQ(httpsPut(urlFor(*s, huge), ca(), huge, contentMd5(huge)), 413);
    EXPECT_TRUE(core().store().has(keyOf(a)));
}

TEST_F(Service, LaunchInputsAreReadOffTheNetworkThreadsWithinTheirCaps) {
    namespace limits = kxservice::limits;
    startService();
    auto s = connect();
    const FileKey img = upload(*s, "a photograph");
    // A configuration over its cap is refused from its stored size: this one is a sparse file.
    auto big = core().store().beginUpload(limits::kMaxConfigBytes + 1);
    ASSERT_TRUE(big);
    std::ofstream(big->tmp).close();
    std::filesystem::resize_file(big->tmp, big->size);
    const FileKey bigKey = keyOf("stands for a large configuration");
    ASSERT_TRUE(core().store().commitUpload(*big, bigKey));
    const struct {
        FileKey config;
        uint32_t code;
        std::string says;
    } rows[] = {
        {bigKey, kxservice::kUnreadableInput, "over the cap"},
        {upload(*s, std::string(100000, '[') + std::string(100000, ']')), kxservice::kUnreadableInput,
         "deeper"},
        {upload(*s, configText({img, keyOf("other"), img})), kxservice::kInconsistentInput,
         "the configuration names photograph " + img.str() + " twice"},
    };
    for (const auto& row : rows) {
        Request<kLaunchSfmTask> launch;
        launch.config = row.config;
        const auto res = s->call(launch);
        EXPECT_EQ(res.sfmErr.code, row.code) << res.sfmErr.message;
        EXPECT_NE(res.sfmErr.message.find(row.says), std::string::npos) << res.sfmErr.message;
    }
    Request<kLaunchMvsTask> mvs;
    mvs.ksmFile = img;
    mvs.images.assign(limits::kMaxPhotographs + 1, img);
    EXPECT_EQ(s->call(mvs).mvsErr.code, kxservice::kInconsistentInput);
    EXPECT_EQ(limits::taskSeconds(60, 30, size_t(1) << 62), limits::kMaxTaskSeconds);

    // While the reader is busy, a launch waits without holding the session's thread, and other
    // sessions are answered meanwhile.
    std::promise<void> gate;
    core().reader(0).post([opened = gate.get_future().share()] { opened.wait(); });
    Request<kLaunchSfmTask> launch;
    launch.config = upload(*s, configText({img}));
    launch.hRequest = s->next++;
    auto out = s->logic.onMessage(writeRequest(launch));
    EXPECT_TRUE(out.retryAt && out.reply.empty());
    auto other = connect();
    EXPECT_FALSE(urlFor(*other, "uploaded meanwhile").empty());
    gate.set_value();
    for (int n = 0; n < 500 && out.retryAt; ++n) {
        std::this_thread::sleep_until(*out.retryAt);
        out = s->logic.poll();
    }
    EXPECT_NE(std::get<Response<kLaunchSfmTask>>(readResponse(out.reply)).hTask, 0u);
}

TEST_F(Service, StalledSlowOrRefusedUploadsGiveTheirRoomBack) {
    kxservice::Options options;
    options.maxStore = 12 << 20;                   // one session's share: 6 MiB
    options.uploadIdle = std::chrono::seconds(2);  // longer than a few requests take in a sanitizer build
    options.uploadRateWindow = std::chrono::milliseconds(400);
    options.uploadMinRate = 1 << 20;
    startService(options);
    auto a = connect(), b = connect();
    // A refused PUT still reads its status although its body was on the way.
    const std::string bogus = "https://127.0.0.1:" + std::to_string(mPort) + "/upload/none";
    EXPECT_EQ(Https(bogus, ca(), putText(bogus, std::string(512 << 10, 'x'), "x")).status(), 403);
    const std::string held(4 << 20, 'h'), later(4 << 20, 'l'), over((6 << 20) + 1, 'o');
    std::vector<FileKey> missing;
    ASSERT_TRUE(core().store().pinAll({upload(*b, held)}, missing));
    // Refused from their headers (their bodies would pass what a refusal reads of them).
    const auto refused = [&](const std::string& bytes) {
        const std::string url = urlFor(*b, bytes);
        return Https(url, ca(), putText(url, "", contentMd5(bytes), bytes.size())).status();
    };
    EXPECT_EQ(refused(over), 413);  // over the session's share
    const auto reservedBy = [&](uint64_t bytes) {
        for (int n = 0; n < 500 && core().store().reservedBytes() != bytes; ++n) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return core().store().reservedBytes() == bytes;
    };
    // 6 MiB announced, 64 KiB sent, then nothing: others are refused until the stall ends it.
    const std::string stalled(6 << 20, 's');
    const std::string stalledUrl = urlFor(*a, stalled);
    Https stall(stalledUrl, ca(),
                putText(stalledUrl, stalled.substr(0, 64 << 10), contentMd5(stalled), stalled.size()));
    ASSERT_TRUE(reservedBy(stalled.size()));
    EXPECT_EQ(refused(later), 413);
    // A well-behaved session meanwhile completes a whole task in the room left.
    auto c = connect();
    EXPECT_TRUE(runTask(*c, upload(*c, configText({upload(*c, "photograph of c")}))).second);
    EXPECT_EQ(stall.status(), 0);  // ended without an answer
    ASSERT_TRUE(reservedBy(0));
    // A trickle is ended once others were refused for room while it crawled.
    const std::string slow(3 << 20, 'w');
    const std::string slowUrl = urlFor(*a, slow);
    Https trickle(slowUrl, ca(), putText(slowUrl, "", contentMd5(slow), slow.size()));
    ASSERT_TRUE(reservedBy(slow.size()));
    EXPECT_EQ(refused(std::string(6 << 20, 'r')), 413);  // no room: the trickle holds 3 MiB
    int nbSent = 0;
    for (beast::error_code ec; !ec && nbSent < 100; ++nbSent) {
        net::write(trickle.s, net::buffer(std::string(1024, 'w')), ec);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_LT(nbSent, 100);
    ASSERT_TRUE(reservedBy(0));
    EXPECT_EQ(httpsPut(urlFor(*b, later), ca(), later, contentMd5(later)), 201);
}

TEST_F(Service, SessionsTakeTurnsWithinTheirCaps) {
    kxservice::FairQueue<int> queue;  // owner 1 served, then 2 arrives: 2 goes next
    queue.push(1, 11);
    queue.push(1, 12);
    queue.push(1, 13);
    EXPECT_EQ(queue.pop(), 11);
    queue.push(2, 21);
    queue.push(3, 31);
    EXPECT_TRUE(queue.remove(1, 13));
    EXPECT_EQ(queue.pop(), 21);
    EXPECT_EQ(queue.pop(), 31);
    EXPECT_EQ(queue.pop(), 12);
    EXPECT_EQ(queue.pop(), std::nullopt);

    kxservice::Options options;
    options.maxTasks = 1;
    startService(options);
    auto a = connect(), b = connect();
    Request<kLaunchSfmTask> launchA, launchB;
    launchA.config = upload(*a, configText({upload(*a, "photograph of a")}));
    launchB.config = upload(*b, configText({upload(*b, "photograph of b")}));
    // A launches faster than one worker ends tasks, until its cap of tasks queued or running refuses.
    std::vector<TaskHandle> tasksOfA;
    uint32_t refusal = 0;
    while (refusal == 0 && tasksOfA.size() < 40) {
        const auto res = a->call(launchA);
        refusal = res.sfmErr.code;
        if (res.hTask != 0) {
            tasksOfA.push_back(res.hTask);
        }
    }
    EXPECT_EQ(refusal, kxservice::kOverLimit);
    EXPECT_GE(tasksOfA.size(), kxservice::limits::kMaxSessionTasks);
    const auto nbStarted = [&] {
        return std::count_if(tasksOfA.begin(), tasksOfA.end(), [&](TaskHandle h) {
            return core().tasks().status(h)->stage != TaskStage::kPending;
        });
    };
    Request<kQueryProgress> progress;
    progress.hTask = b->call(launchB).hTask;
    const auto startedBefore = nbStarted();
    for (int n = 0; n < 2000 && core().tasks().status(progress.hTask)->stage == TaskStage::kPending; ++n) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_LE(nbStarted(), startedBefore + 1);  // a queue of A's delayed B by one running task at most
    for (int n = 0; n < 500 && b->call(progress).status != TaskStage::kFinished; ++n) {
    }
    // Download URLs live with their session.
    Request<kGetSfmResults> results;
    results.hTask = progress.hTask;
    const std::string url = b->call(results).items.at(0).url;
    const auto get = [&] {
        const size_t path = url.find('/', url.find("://") + 3);
        return Https(url, ca(),
                     "GET " + url.substr(path) + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
            .status();
    };
    EXPECT_EQ(get(), 200);
    b.reset();
    EXPECT_EQ(get(), 404);
    // Upload URLs not yet used are capped per session.
    for (size_t i = 0; i < kxservice::limits::kMaxPendingUploads; ++i) {
        ASSERT_TRUE(core().grantUpload(keyOf("x"), 1, 999));
    }
    EXPECT_FALSE(core().grantUpload(keyOf("x"), 1, 999));
    EXPECT_TRUE(core().grantUpload(keyOf("x"), 1, 998));
    core().sessionEnded(999);
    EXPECT_TRUE(core().grantUpload(keyOf("x"), 1, 999));
    // Everything the service wrote is private, the public certificates excepted.
    const auto data = mDir / "data";
    EXPECT_EQ(std::filesystem::status(data).permissions(), std::filesystem::perms::owner_all);
    for (const auto& e : std::filesystem::recursive_directory_iterator(data)) {
        const auto name = e.path().filename();
        if (e.is_regular_file() && name != "ca.pem" && name != "server.pem") {
            EXPECT_EQ(e.status().permissions() & std::filesystem::perms::others_all,
                      std::filesystem::perms::none)
                << e.path();
        }
    }
}

TEST_F(Service, FinishedTasksCountAgainstTheStoreAndCollectedResultsGoFirst) {
    kxservice::Options options;
    options.maxStore = 1000000;
    startService(options);
    auto s = connect();
    const std::string held(500000, 'p');
    std::vector<FileKey> missing;
    ASSERT_TRUE(core().store().pinAll({upload(*s, held)}, missing));
    const FileKey image = upload(*s, "a photograph"), config = upload(*s, configText({image}));
    const uint64_t inputs = core().store().storedBytes();
    const auto [task, finished] = runTask(*s, config);
    ASSERT_TRUE(finished);
    for (int n = 0; n < 500 && core().store().storedBytes() == inputs; ++n) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_GT(core().store().storedBytes(), inputs);  // the task directory counts once the task ended
    Request<kGetSfmResults> results;
    results.hTask = task;
    EXPECT_EQ(s->call(results).sfmError.code, 0u);
    // Room for this needs the collected results gone, not the inputs.
    upload(*s, std::string(options.maxStore - inputs, 'n'));
    EXPECT_TRUE(std::filesystem::is_empty(mDir / "data" / "tasks"));
    EXPECT_TRUE(core().store().has(image));
    EXPECT_TRUE(core().store().has(config));
}

TEST_F(Service, ConnectionsOverTheCapAreClosedAndOthersGetInOnceSomeClose) {
    kxservice::Options options;
    options.maxConnectionsPerAddress = 2;
    startService(options);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(mPort);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int held[3];
    for (int& fd : held) {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    }
    const timeval wait{10, 0};  // the service's own timeout on a silent connection is 30 s
    setsockopt(held[2], SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    char c = 0;
    EXPECT_EQ(::recv(held[2], &c, 1, 0), 0);  // closed by the service at once
    ::close(held[0]);
    ::close(held[2]);
    const std::string bogus = "https://127.0.0.1:" + std::to_string(mPort) + "/upload/none";
    int status = 0;
    for (int n = 0; n < 100 && status == 0; ++n) {  // until the service has seen the close
        try {
            status = Https(bogus, ca(), putText(bogus, "", "x")).status();
        } catch (const std::exception&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    EXPECT_EQ(status, 403);
    ::close(held[1]);
}

}  // namespace
}  // namespace kxtest
