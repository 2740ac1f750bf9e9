#include "tests/service/ServiceFixture.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/uuid/detail/md5.hpp>

#include <sstream>

#include "config/SfmCfgJson.h"

namespace kxtest {

namespace beast = boost::beast;
namespace net = boost::asio;

Session::Session(kxservice::ServiceCore& core, uint16_t port)
    : logic(core, "https://127.0.0.1:" + std::to_string(port)) {}

void Session::login() {
    ASSERT_EQ(call(Request<kHandshake>{}).protocolVersion, 1u);
    Request<kLogin> login;
    login.username = "guest";
    ASSERT_EQ(call(login).error.code, 0u);
}

struct Https::Impl {
    net::io_context ioc;
    net::ssl::context tls{net::ssl::context::tls_client};
    beast::ssl_stream<beast::tcp_stream> s{ioc, tls};
};

Https::Https(const std::string& url, const std::filesystem::path& caFile, const std::string& text)
    : mImpl(std::make_unique<Impl>()) {
    const size_t hostStart = url.find("://") + 3;
    const size_t colon = url.find(':', hostStart);
    const std::string host = url.substr(hostStart, colon - hostStart);
    mImpl->tls.load_verify_file(caFile.string());
    mImpl->tls.set_verify_mode(net::ssl::verify_peer);
    auto& tcp = beast::get_lowest_layer(mImpl->s);
    tcp.expires_after(std::chrono::seconds(30));
    tcp.connect(net::ip::tcp::resolver(mImpl->ioc)
                    .resolve(host, url.substr(colon + 1, url.find('/', colon) - colon - 1)));
    mImpl->s.set_verify_callback(net::ssl::host_name_verification(host));
    mImpl->s.handshake(net::ssl::stream_base::client);
    beast::error_code ec;  // a refusal before the whole text was read shows in the status
    net::write(mImpl->s, net::buffer(text), ec);
}

Https::~Https() = default;

int Https::status() {
    beast::flat_buffer buf;
    beast::http::response_parser<beast::http::string_body> p;
    beast::error_code ec;
    beast::http::read(mImpl->s, buf, p, ec);
    return p.is_header_done() ? p.get().result_int() : 0;
}

std::string putText(const std::string& url, const std::string& body, const std::string& md5,
                    std::optional<uint64_t> length, bool chunked) {
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

void ServiceFixture::startService(kxservice::Options options) {
    options.dataDir = mDir / "data";
    options.port = 0;
    mService = std::make_unique<kxservice::Service>(options);
    mPort = mService->start().port;
}

std::unique_ptr<Session> ServiceFixture::connect() {
    auto s = std::make_unique<Session>(core(), mPort);
    s->login();
    return s;
}

std::string ServiceFixture::urlFor(Session& s, const std::string& bytes, std::optional<uint64_t> size) {
    Request<kGetUploadUrl> req;
    req.key = keyOf(bytes);
    req.size = size.value_or(bytes.size());
    const auto res = s.call(req);
    EXPECT_EQ(res.error.code, 0u) << res.error.message;
    return res.skipUpload ? "" : res.url;
}

FileKey ServiceFixture::upload(Session& s, const std::string& bytes) {
    const std::string url = urlFor(s, bytes);
    EXPECT_FALSE(url.empty()) << "already stored";
    EXPECT_EQ(httpsPut(url, ca(), bytes, contentMd5(bytes)), 201);
    return keyOf(bytes);
}

std::string ServiceFixture::configText(const std::vector<FileKey>& images, uint32_t idxCam) {
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

}  // namespace kxtest
