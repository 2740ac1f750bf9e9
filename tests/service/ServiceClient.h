#pragma once
// A client of the service for its tests and benchmarks on loopback: the binary started and stopped, the
// protocol over a TLS WebSocket and HTTPS to the URLs it hands out, both verifying the service's CA.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <boost/uuid/detail/md5.hpp>
#include <gtest/gtest.h>

#include "config/SfmCfgJson.h"
#include "model/KsmModel.h"
#include "protocol/UserProto.h"
#include "tests/support/TestSupport.h"

namespace kxtest {

using namespace user_proto;
namespace beast = boost::beast;
namespace net = boost::asio;
using TlsStream = beast::ssl_stream<beast::tcp_stream>;

// Whether the file says text, waiting up to 30 s for it.
inline bool fileSays(const std::filesystem::path& path, const std::string& text) {
    for (int n = 0; n < 1500; ++n) {
        if (readFile(path).find(text) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// The service binary with the test engine on a free loopback port, started by a shell that runs shell
// first; its port (0 when it did not start) and CA file come from the start line in log.
struct ServiceProcess {
    ServiceProcess(const std::string& binary, const std::filesystem::path& dataDir,
                   const std::string& options, const std::filesystem::path& log,
                   const std::string& shell = "") {
        const std::string command = shell + "exec " + binary +
                                    " --engine test --listen 127.0.0.1:0 --data-dir " + dataDir.string() +
                                    " " + options + " >" + log.string() + " 2>&1";
        // A log left by an earlier start would give its port before the shell truncates it.
        std::filesystem::remove(log);
        pid = fork();
        if (pid == 0) {
            execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
            _exit(127);
        }
        if (fileSays(log, "listening on wss://127.0.0.1:")) {
            const std::string text = readFile(log);
            const size_t at = text.find("wss://127.0.0.1:") + 16, caAt = text.find(" CA ", at) + 4;
            port = uint16_t(std::stoi(text.substr(at)));
            ca = text.substr(caAt, text.find('\n', caAt) - caAt);
        }
    }
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;
    ~ServiceProcess() { stop(); }
    // SIGTERM, then its exit status (-1 when it did not exit by itself or was stopped already).
    int stop() {
        int status = 0;
        if (pid <= 0 || ::kill(pid, SIGTERM) != 0 || ::waitpid(pid, &status, 0) != pid) {
            return -1;
        }
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    pid_t pid = -1;
    uint16_t port = 0;
    std::filesystem::path ca;
};

// The content key of bytes, and the Content-MD5 header of them.
inline FileKey keyOf(const std::string& bytes) {
    boost::uuids::detail::md5 md5;
    md5.process_bytes(bytes.data(), bytes.size());
    boost::uuids::detail::md5::digest_type w;
    md5.get_digest(w);
    return FileKey(encodeHex({w[0], w[1], w[2], w[3]}));
}
inline std::string contentMd5(const std::string& bytes) {
    const auto b64 = keyOf(bytes).base64();
    return std::string(b64.data(), b64.size());
}

// A configuration of one camera and the given images (stored under those keys) in folder, as JSON text.
inline std::string configText(const std::vector<FileKey>& images, uint32_t idxCam = 0,
                              const std::string& folder = "/photos") {
    SfmCfg cfg;
    cfg.cameras.push_back({4000, 3000, 2900, 2900, 2000, 1500, 0.01f, 0, 0, 0, 0});
    for (size_t i = 0; i < images.size(); ++i) {
        SfmCfg::Image img;
        img.key = images[i];
        img.idxCam = idxCam;
        img.name = folder + "/IMG_" + std::to_string(i) + ".jpg";
        cfg.images.push_back(img);
    }
    std::ostringstream os;
    writeSfmCfg(os, cfg);
    return os.str();
}

// The text of a PUT of body to url, with a Content-MD5 header unless md5 is empty, announcing length
// bytes (default: the body's), or in chunked encoding when chunked.
inline std::string putText(const std::string& url, const std::string& body, const std::string& md5,
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

// Connects socket to the service's port on 127.0.0.1 from the loopback address from.
inline void connectFrom(net::ip::tcp::socket& socket, uint16_t port, const std::string& from) {
    socket.open(net::ip::tcp::v4());
    socket.bind({net::ip::make_address(from), 0});
    socket.connect({net::ip::make_address("127.0.0.1"), port});
}
// The same with TLS over it, trusting the CA file.
inline void connectTls(TlsStream& s, net::ssl::context& tls, uint16_t port, const std::filesystem::path& ca,
                       const std::string& from) {
    tls.load_verify_file(ca.string());
    tls.set_verify_mode(net::ssl::verify_peer);
    connectFrom(beast::get_lowest_layer(s).socket(), port, from);
    s.set_verify_callback(net::ssl::host_name_verification("127.0.0.1"));
    s.handshake(net::ssl::stream_base::client);
}

// An HTTPS connection that has sent text, a request whole or only its start, to the port of url.
struct Https {
    Https(const std::string& url, const std::filesystem::path& ca, const std::string& text) {
        const size_t colon = url.find(':', 8);
        connectTls(s, tls, uint16_t(std::stoi(url.substr(colon + 1))), ca, "127.0.0.1");
        beast::error_code ec;  // a refusal before the whole text was read shows in the status
        net::write(s, net::buffer(text), ec);
    }
    int status() {  // of the reply, 0 when there was none; its body goes to body
        beast::flat_buffer buf;
        beast::http::response_parser<beast::http::string_body> p;
        beast::error_code ec;
        beast::http::read(s, buf, p, ec);
        body = p.get().body();
        return p.is_header_done() ? p.get().result_int() : 0;
    }

    net::io_context ioc;
    net::ssl::context tls{net::ssl::context::tls_client};
    TlsStream s{ioc, tls};
    std::string body;
};
// The status of a PUT as putText writes it.
inline int httpsPut(const std::string& url, const std::filesystem::path& ca, const std::string& body,
                    const std::string& md5, std::optional<uint64_t> length = {}, bool chunked = false) {
    return Https(url, ca, putText(url, body, md5, length, chunked)).status();
}
// The status of a GET of url; its body goes to body when given.
inline int httpsGet(const std::string& url, const std::filesystem::path& ca, std::string* body = nullptr) {
    Https get(url, ca,
              "GET " + url.substr(url.find('/', 8)) + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    const int status = get.status();
    if (body != nullptr) {
        *body = std::move(get.body);
    }
    return status;
}

// Where a task was left: its stage, and the launch's refusal or the failed stage's reason.
struct Followed {
    TaskHandle task = 0;
    TaskStage stage = TaskStage::kPending;
    std::string error;
};

// A protocol session from a loopback address; it has shaken hands and logged in as "guest" unless raw.
// Requests are numbered in order; a session the service closed throws on the next receive.
class Client {
public:
    Client(uint16_t port, std::filesystem::path ca, const std::string& from = "127.0.0.1", bool raw = false)
        : mCa(std::move(ca)) {
        connectTls(mWs.next_layer(), mTls, port, mCa, from);
        mWs.handshake("127.0.0.1:" + std::to_string(port), "/client");
        mWs.text(true);
        if (!raw) {
            EXPECT_EQ(call(Request<kHandshake>{}).protocolVersion, 1u);
            Request<kLogin> login;
            login.username = "guest";
            EXPECT_EQ(call(login).error.code, 0u);
        }
    }

    template <ReqType type>
    Response<type> call(Request<type> req) {
        req.hRequest = mNext++;
        send(writeRequest(req));
        return std::get<Response<type>>(readResponse(receive()));
    }
    void send(const std::string& text) { mWs.write(net::buffer(text)); }
    std::string receive() {
        beast::flat_buffer buf;
        mWs.read(buf);
        return beast::buffers_to_string(buf.data());
    }

    // The upload URL of those bytes as announced with size (default: theirs), empty when already stored.
    std::string urlFor(const std::string& bytes, std::optional<uint64_t> size = {}) {
        Request<kGetUploadUrl> req;
        req.key = keyOf(bytes);
        req.size = size.value_or(bytes.size());
        const auto res = call(req);
        EXPECT_EQ(res.error.code, 0u) << res.error.message;
        return res.skipUpload ? "" : res.url;
    }
    // Uploads the bytes, which the service must not have yet; returns their key.
    FileKey upload(const std::string& bytes) {
        const std::string url = urlFor(bytes);
        EXPECT_FALSE(url.empty()) << "already stored";
        EXPECT_EQ(httpsPut(url, mCa, bytes, contentMd5(bytes)), 201);
        return keyOf(bytes);
    }
    // Launches an SfM task and asks for its progress until it ends or reaches stopAt.
    Followed follow(const FileKey& config, TaskStage stopAt = TaskStage::kFinished) {
        Request<kLaunchSfmTask> launch;
        launch.config = config;
        const auto launched = call(launch);
        Followed f{launched.hTask, TaskStage::kPending, launched.sfmErr.message};
        Request<kQueryProgress> progress;
        progress.hTask = f.task;
        for (int n = 0; n < 500 && f.task != 0; ++n) {
            const auto r = call(progress);
            f.stage = r.status;
            f.error = r.error.message;
            if (f.stage == stopAt || f.stage == TaskStage::kFinished || f.stage == TaskStage::kFailed) {
                break;
            }
        }
        return f;
    }
    // A well-behaved session's whole SfM task, from the uploads to the sparse model downloaded and read:
    // the task and the model's URL, empty when a step failed.
    std::pair<TaskHandle, std::string> wholeTask(const std::string& name) {
        const Followed task = follow(upload(configText({upload("photograph " + name)}, 0, "/" + name)));
        Request<kGetSfmResults> results;
        results.hTask = task.task;
        auto items = call(results).items;
        // The model, then its report.
        EXPECT_TRUE(task.stage == TaskStage::kFinished && items.size() == 2) << name << ": " << task.error;
        items.resize(std::min<size_t>(items.size(), 1));
        std::string model;
        if (items.size() != 1 || items[0].type != FileType::kKsm ||
            httpsGet(items[0].url, mCa, &model) != 200 || model.size() != items[0].size ||
            keyOf(model) != items[0].key) {
            ADD_FAILURE() << "the sparse model of " << name << " did not come whole";
            return {task.task, ""};
        }
        std::istringstream in(model);
        const auto read = ksm::loadKsm(in);
        EXPECT_TRUE(read.index() == 1 &&
                    std::get<1>(read).captures.at(0).imagePath == "/" + name + "/IMG_0.jpg");
        return {task.task, items[0].url};
    }

private:
    std::filesystem::path mCa;
    net::io_context mIoc;
    net::ssl::context mTls{net::ssl::context::tls_client};
    beast::websocket::stream<TlsStream> mWs{mIoc, mTls};
    uint32_t mNext = 0;
};

}  // namespace kxtest
