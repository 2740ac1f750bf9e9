// PUT and GET of one large file over loopback through the service, beside a minimal HTTPS program doing
// the same work on the same bytes (receive, MD5, write to a file; read and send). Prints the rates, their
// ratio and how much the process's peak memory grew while the service transferred.
// Usage: bench_service [MiB, default 1024]
#include <fcntl.h>
#include <unistd.h>

#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/uuid/detail/md5.hpp>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "service/Service.h"
#include "service/ServiceCore.h"

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Stream = beast::ssl_stream<beast::tcp_stream>;
namespace fs = std::filesystem;

namespace {

constexpr size_t kChunk = 1 << 20;

long peakKiB() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

FileKey md5Of(const fs::path& path) {
    return FileKey(md5sumHex(path.c_str()));
}

void connectTo(Stream& s, net::io_context& ioc, uint16_t port) {
    s.next_layer().connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port));
    s.set_verify_callback(net::ssl::host_name_verification("127.0.0.1"));
    s.handshake(net::ssl::stream_base::client);
    (void)ioc;
}

// Streams the file as a PUT body and reads the answer's status.
int put(uint16_t port, net::ssl::context& tls, const std::string& target, const fs::path& file,
        const std::string& contentMd5) {
    net::io_context ioc;
    Stream s(ioc, tls);
    connectTo(s, ioc, port);
    const std::string head = "PUT " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
                             std::to_string(fs::file_size(file)) + "\r\nContent-MD5: " + contentMd5 +
                             "\r\n\r\n";
    net::write(s, net::buffer(head));
    std::vector<char> buf(kChunk);
    const int fd = ::open(file.c_str(), O_RDONLY);
    for (ssize_t n; (n = ::read(fd, buf.data(), buf.size())) > 0;) {
        net::write(s, net::buffer(buf.data(), static_cast<size_t>(n)));
    }
    ::close(fd);
    beast::flat_buffer fb;
    http::response<http::string_body> res;
    http::read(s, fb, res);
    return res.result_int();
}

// Reads a GET body into a fixed buffer; returns the bytes received.
uint64_t get(uint16_t port, net::ssl::context& tls, const std::string& target) {
    net::io_context ioc;
    Stream s(ioc, tls);
    connectTo(s, ioc, port);
    http::request<http::empty_body> req(http::verb::get, target, 11);
    req.set(http::field::host, "127.0.0.1");
    http::write(s, req);
    beast::flat_buffer fb;
    http::response_parser<http::buffer_body> p;
    p.body_limit(std::numeric_limits<uint64_t>::max());
    http::read_header(s, fb, p);
    std::vector<char> buf(kChunk);
    uint64_t total = 0;
    while (!p.is_done()) {
        p.get().body().data = buf.data();
        p.get().body().size = buf.size();
        beast::error_code ec;
        http::read(s, fb, p, ec);
        if (ec && ec != http::error::need_buffer) {
            break;
        }
        total += buf.size() - p.get().body().size;
    }
    return total;
}

// The minimal program: one connection at a time, PUT received, hashed and written, GET read and sent.
void baselineServer(tcp::acceptor& acceptor, net::ssl::context& tls, const fs::path& dir, int nbRequests) {
    for (int i = 0; i < nbRequests; ++i) {
        net::io_context ioc;
        Stream s(tcp::socket(ioc), tls);
        acceptor.accept(s.next_layer().socket());
        s.handshake(net::ssl::stream_base::server);
        beast::flat_buffer fb;
        http::request_parser<http::buffer_body> p;
        p.body_limit(std::numeric_limits<uint64_t>::max());
        http::read_header(s, fb, p);
        std::vector<char> buf(kChunk);
        if (p.get().method() == http::verb::put) {
            boost::uuids::detail::md5 md5;
            const int fd = ::open((dir / "received").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            while (!p.is_done()) {
                p.get().body().data = buf.data();
                p.get().body().size = buf.size();
                beast::error_code ec;
                http::read(s, fb, p, ec);
                const size_t n = buf.size() - p.get().body().size;
                md5.process_bytes(buf.data(), n);
                if (::write(fd, buf.data(), n) != static_cast<ssize_t>(n)) {
                    std::abort();
                }
            }
            ::close(fd);
            http::response<http::empty_body> res(http::status::created, 11);
            res.content_length(0);
            http::write(s, res);
        } else {
            const fs::path file = dir / "received";
            http::response<http::empty_body> res(http::status::ok, 11);
            res.content_length(fs::file_size(file));
            http::response_serializer<http::empty_body> sr(res);
            http::write_header(s, sr);
            const int fd = ::open(file.c_str(), O_RDONLY);
            for (ssize_t n; (n = ::read(fd, buf.data(), buf.size())) > 0;) {
                net::write(s, net::buffer(buf.data(), static_cast<size_t>(n)));
            }
            ::close(fd);
        }
        beast::error_code ec;
        s.shutdown(ec);
    }
}

double seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t mib = argc > 1 ? std::stoull(argv[1]) : 1024;
    const fs::path dir = fs::temp_directory_path() / ("kx-bench-service-" + std::to_string(getpid()));
    fs::create_directories(dir / "baseline");
    const fs::path file = dir / "input.bin";
    {
        std::mt19937_64 rng(1);
        std::vector<uint64_t> block(kChunk / 8);
        std::ofstream out(file, std::ios::binary);
        for (uint64_t i = 0; i < mib; ++i) {
            for (uint64_t& w : block) {
                w = rng();
            }
            out.write(reinterpret_cast<const char*>(block.data()), kChunk);
        }
    }
    const FileKey key = md5Of(file);
    const auto b64 = key.base64();
    const std::string contentMd5(b64.data(), b64.size());
    using Clock = std::chrono::steady_clock;

    kxservice::Options options;
    options.port = 0;
    options.dataDir = dir / "data";
    kxservice::Service service(options);
    const uint16_t port = service.start().port;
    net::ssl::context clientTls(net::ssl::context::tls_client);
    clientTls.load_verify_file(service.caFile().string());
    clientTls.set_verify_mode(net::ssl::verify_peer);

    // The service: an upload URL as a session would get it, then the stored file served as a result.
    const long peakBefore = peakKiB();
    const std::string token = *service.core().grantUpload(key, fs::file_size(file), 0);
    auto t0 = Clock::now();
    const int putStatus = put(port, clientTls, "/upload/" + token, file, contentMd5);
    const double servicePut = seconds(Clock::now() - t0);
    const fs::path stored = service.core().store().pathOf(key);
    const std::string download =
        service.core().grantDownload({stored, FileType::kJpg, 0, key, fs::file_size(stored)}, 0);
    t0 = Clock::now();
    const uint64_t serviceGot = get(port, clientTls, "/download/" + download);
    const double serviceGet = seconds(Clock::now() - t0);
    const long peakAfter = peakKiB();
    service.stop();

    // The baseline, with the service's own certificate.
    net::ssl::context serverTls(net::ssl::context::tls_server);
    serverTls.use_certificate_chain_file((service.dataDir() / "server.pem").string());
    serverTls.use_private_key_file((service.dataDir() / "server-key.pem").string(), net::ssl::context::pem);
    net::io_context ioc;
    tcp::acceptor acceptor(ioc, tcp::endpoint(net::ip::make_address("127.0.0.1"), 0));
    std::thread server([&] { baselineServer(acceptor, serverTls, dir / "baseline", 2); });
    const uint16_t basePort = acceptor.local_endpoint().port();
    t0 = Clock::now();
    const int basePutStatus = put(basePort, clientTls, "/x", file, contentMd5);
    const double basePut = seconds(Clock::now() - t0);
    t0 = Clock::now();
    const uint64_t baseGot = get(basePort, clientTls, "/x");
    const double baseGet = seconds(Clock::now() - t0);
    server.join();

    const double size = static_cast<double>(mib);
    std::printf("file %llu MiB; PUT status service %d baseline %d; GET bytes service %llu baseline %llu\n",
                static_cast<unsigned long long>(mib), putStatus, basePutStatus,
                static_cast<unsigned long long>(serviceGot), static_cast<unsigned long long>(baseGot));
    std::printf("PUT: service %.0f MiB/s, baseline %.0f MiB/s, ratio %.2f\n", size / servicePut,
                size / basePut, basePut / servicePut);
    std::printf("GET: service %.0f MiB/s, baseline %.0f MiB/s, ratio %.2f\n", size / serviceGet,
                size / baseGet, baseGet / serviceGet);
    std::printf("peak memory growth during the service's transfers: %.1f MiB\n",
                (peakAfter - peakBefore) / 1024.0);
    fs::remove_all(dir);
    const bool ok =
        putStatus == 201 && basePutStatus == 201 && serviceGot == mib * kChunk && baseGot == mib * kChunk;
    return ok ? 0 : 1;
}
