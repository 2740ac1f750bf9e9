#include "tests/service/TestClient.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <boost/uuid/detail/md5.hpp>

#include <limits>
#include <stdexcept>

namespace kxtest {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

net::ssl::context makeTls(const std::filesystem::path& caFile) {
    net::ssl::context tls(net::ssl::context::tls_client);
    tls.load_verify_file(caFile.string());
    tls.set_verify_mode(net::ssl::verify_peer);
    return tls;
}

struct Url {
    std::string host, port, target;
};
Url parseUrl(const std::string& url) {
    const size_t hostStart = url.find("://") + 3;
    const size_t slash = url.find('/', hostStart);
    const std::string authority = url.substr(hostStart, slash - hostStart);
    const size_t colon = authority.rfind(':');
    return {authority.substr(0, colon), authority.substr(colon + 1), url.substr(slash)};
}

void connect(beast::ssl_stream<beast::tcp_stream>& s, net::io_context& ioc, const std::string& host,
             const std::string& port) {
    tcp::resolver resolver(ioc);
    beast::get_lowest_layer(s).expires_after(std::chrono::seconds(30));
    beast::get_lowest_layer(s).connect(resolver.resolve(host, port));
    s.set_verify_callback(net::ssl::host_name_verification(host));
    s.handshake(net::ssl::stream_base::client);
}

}  // namespace

struct WsClient::Impl {
    net::io_context ioc;
    net::ssl::context tls;
    beast::websocket::stream<beast::ssl_stream<beast::tcp_stream>> ws;
    explicit Impl(const std::filesystem::path& caFile) : tls(makeTls(caFile)), ws(ioc, tls) {}
};

WsClient::WsClient(uint16_t port, const std::filesystem::path& caFile)
    : mImpl(std::make_unique<Impl>(caFile)) {
    connect(mImpl->ws.next_layer(), mImpl->ioc, "127.0.0.1", std::to_string(port));
    beast::get_lowest_layer(mImpl->ws).expires_never();
    mImpl->ws.handshake("127.0.0.1:" + std::to_string(port), "/client");
    mImpl->ws.text(true);
}

WsClient::~WsClient() = default;

void WsClient::sendText(const std::string& text) {
    beast::error_code ec;  // a session closed early shows on the next read
    mImpl->ws.write(net::buffer(text), ec);
}

std::optional<std::string> WsClient::readText() {
    beast::flat_buffer buf;
    beast::error_code ec;
    mImpl->ws.read(buf, ec);
    if (ec) {
        return std::nullopt;
    }
    return beast::buffers_to_string(buf.data());
}

user_proto::UserResponse WsClient::call(user_proto::UserRequest req) {
    std::visit([&](auto& r) { r.hRequest = mNext++; }, req);
    sendText(user_proto::writeRequest(req));
    const auto text = readText();
    if (!text) {
        throw std::runtime_error("the service closed the session");
    }
    return user_proto::readResponse(*text);
}

void WsClient::login() {
    if (call(user_proto::Request<user_proto::kHandshake>{}).protocolVersion != 1) {
        throw std::runtime_error("handshake");
    }
    user_proto::Request<user_proto::kLogin> login;
    login.username = "guest";
    if (call(login).error.code != 0) {
        throw std::runtime_error("login");
    }
}

void WsClient::close() {
    beast::error_code ec;
    mImpl->ws.close(beast::websocket::close_code::normal, ec);
}

namespace {
template <class Request>
HttpReply exchange(const std::string& url, const std::filesystem::path& caFile, Request& req) {
    const Url u = parseUrl(url);
    net::io_context ioc;
    net::ssl::context tls = makeTls(caFile);
    beast::ssl_stream<beast::tcp_stream> s(ioc, tls);
    connect(s, ioc, u.host, u.port);
    req.target(u.target);
    req.set(http::field::host, u.host + ":" + u.port);
    beast::error_code ec;
    http::write(s, req, ec);
    beast::flat_buffer buf;
    http::response_parser<http::string_body> p;
    p.body_limit(std::numeric_limits<std::uint64_t>::max());
    http::read(s, buf, p, ec);
    HttpReply reply;
    reply.status = p.is_header_done() ? p.get().result_int() : 0;
    reply.complete = !ec && p.is_done();
    reply.body = p.get().body();
    return reply;
}
}  // namespace

HttpReply httpsPut(const std::string& url, const std::filesystem::path& caFile, const std::string& body,
                   const std::map<std::string, std::string>& headers, bool chunked) {
    http::request<http::string_body> req(http::verb::put, "/", 11);
    for (const auto& [name, value] : headers) {
        req.set(name, value);
    }
    req.body() = body;
    if (chunked) {
        req.chunked(true);
    } else if (headers.count("Content-Length") == 0) {
        req.content_length(body.size());
    }
    return exchange(url, caFile, req);
}

HttpReply httpsGet(const std::string& url, const std::filesystem::path& caFile) {
    http::request<http::empty_body> req(http::verb::get, "/", 11);
    return exchange(url, caFile, req);
}

struct OpenUpload::Impl {
    net::io_context ioc;
    net::ssl::context tls;
    beast::ssl_stream<beast::tcp_stream> s;
    explicit Impl(const std::filesystem::path& caFile) : tls(makeTls(caFile)), s(ioc, tls) {}
};

OpenUpload::OpenUpload(const std::string& url, const std::filesystem::path& caFile, const std::string& sent,
                       uint64_t size)
    : mImpl(std::make_unique<Impl>(caFile)) {
    const Url u = parseUrl(url);
    connect(mImpl->s, mImpl->ioc, u.host, u.port);
    const std::string head = "PUT " + u.target + " HTTP/1.1\r\nHost: " + u.host +
                             "\r\nContent-Length: " + std::to_string(size) +
                             "\r\nContent-MD5: " + contentMd5(sent) + "\r\n\r\n";
    net::write(mImpl->s, net::buffer(head));
    net::write(mImpl->s, net::buffer(sent));
}

OpenUpload::~OpenUpload() = default;

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

}  // namespace kxtest
