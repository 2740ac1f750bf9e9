#include "bench/remote/RawHttps.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>

#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace kxbench {
namespace {
constexpr size_t kPiece = 256 * 1024;

struct Connection {
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    int fd = -1;
    std::string pending;  // bytes read past the headers

    explicit Connection(const HttpsPeer& peer) {
        ctx = SSL_CTX_new(TLS_client_method());
        if (!ctx || SSL_CTX_load_verify_locations(ctx, peer.caFile.c_str(), nullptr) != 1) {
            throw std::runtime_error("cannot load the CA file");
        }
        SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(peer.port);
        inet_pton(AF_INET, peer.host.c_str(), &addr.sin_addr);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            throw std::runtime_error("cannot connect");
        }
        ssl = SSL_new(ctx);
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), peer.host.c_str());
        SSL_set_fd(ssl, fd);
        if (SSL_connect(ssl) != 1) {
            throw std::runtime_error("TLS handshake failed");
        }
    }
    ~Connection() {
        if (ssl) {
            SSL_shutdown(ssl);
            SSL_free(ssl);
        }
        if (fd >= 0) {
            ::close(fd);
        }
        SSL_CTX_free(ctx);
    }
    void writeAll(const char* data, size_t size) {
        while (size > 0) {
            const int n = SSL_write(ssl, data, static_cast<int>(std::min<size_t>(size, 1 << 30)));
            if (n <= 0) {
                throw std::runtime_error("write failed");
            }
            data += n;
            size -= static_cast<size_t>(n);
        }
    }
    int readSome(char* data, size_t size) { return SSL_read(ssl, data, static_cast<int>(size)); }
    // Reads up to the end of the headers; returns the status and the Content-Length.
    std::pair<int, uint64_t> readHeaders() {
        std::string head;
        std::vector<char> buffer(16384);
        size_t end;
        while ((end = head.find("\r\n\r\n")) == std::string::npos) {
            const int n = readSome(buffer.data(), buffer.size());
            if (n <= 0) {
                throw std::runtime_error("connection closed in the headers");
            }
            head.append(buffer.data(), static_cast<size_t>(n));
        }
        pending = head.substr(end + 4);
        head.resize(end);
        int status = 0;
        std::sscanf(head.c_str(), "HTTP/1.1 %d", &status);
        uint64_t length = 0;
        for (const char* name : {"\r\nContent-Length: ", "\r\ncontent-length: "}) {
            const size_t at = head.find(name);
            if (at != std::string::npos) {
                length = std::stoull(head.substr(at + std::char_traits<char>::length(name)));
            }
        }
        return {status, length};
    }
};
std::string authority(const HttpsPeer& peer) {
    return peer.host + ":" + std::to_string(peer.port);
}
}  // namespace

int rawPut(const HttpsPeer& peer, const std::string& target, const std::filesystem::path& file,
           const std::string& contentMd5) {
    Connection c(peer);
    const uint64_t size = std::filesystem::file_size(file);
    const std::string head =
        "PUT " + target + " HTTP/1.1\r\nHost: " + authority(peer) +
        "\r\nContent-Type: application/octet-stream\r\nContent-Length: " + std::to_string(size) +
        "\r\nContent-MD5: " + contentMd5 + "\r\nConnection: close\r\n\r\n";
    c.writeAll(head.data(), head.size());
    std::ifstream in(file, std::ios::binary);
    std::vector<char> buffer(kPiece);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        c.writeAll(buffer.data(), static_cast<size_t>(in.gcount()));
    }
    return c.readHeaders().first;
}

std::string rawGet(const HttpsPeer& peer, const std::string& target, const std::filesystem::path& file) {
    Connection c(peer);
    const std::string head =
        "GET " + target + " HTTP/1.1\r\nHost: " + authority(peer) + "\r\nConnection: close\r\n\r\n";
    c.writeAll(head.data(), head.size());
    const auto [status, length] = c.readHeaders();
    if (status != 200) {
        throw std::runtime_error("GET answered " + std::to_string(status));
    }
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md5(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    EVP_DigestInit_ex(md5.get(), EVP_md5(), nullptr);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    const auto take = [&](const char* data, size_t n) {
        EVP_DigestUpdate(md5.get(), data, n);
        out.write(data, static_cast<std::streamsize>(n));
    };
    take(c.pending.data(), c.pending.size());
    uint64_t received = c.pending.size();
    std::vector<char> buffer(kPiece);
    while (received < length) {
        const int n = c.readSome(buffer.data(), buffer.size());
        if (n <= 0) {
            throw std::runtime_error("connection closed in the body");
        }
        take(buffer.data(), static_cast<size_t>(n));
        received += static_cast<uint64_t>(n);
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int nbDigest = 0;
    EVP_DigestFinal_ex(md5.get(), digest, &nbDigest);
    std::string hex;
    for (unsigned i = 0; i < nbDigest; ++i) {
        char byte[3];
        std::snprintf(byte, sizeof byte, "%02x", digest[i]);
        hex += byte;
    }
    return hex;
}

}  // namespace kxbench
