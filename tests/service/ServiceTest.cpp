// The service's protocol, its upload URLs and its store: session rules, launch checks, uploads that are
// stored only when their length and digest are right, the store's eviction, and many sessions at once.
// The service runs in-process on 127.0.0.1, port 0; tests speak the protocol through its own session
// logic (the WebSocket around it is exercised by the client's flows against the binary) and send HTTPS
// requests to its URLs, verifying its certificate against its CA.
#include <atomic>
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

}  // namespace
}  // namespace kxtest
