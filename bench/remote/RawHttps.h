#pragma once
// The baseline of the transfer benchmark: the least a program must do to PUT or GET a file over HTTPS,
// on OpenSSL directly, one connection per request, the peer verified against a CA file.
#include <cstdint>
#include <filesystem>
#include <string>

namespace kxbench {

struct HttpsPeer {
    std::string host;  // an IPv4 address
    uint16_t port = 0;
    std::filesystem::path caFile;
};

// Streams the file as the body of a PUT with Content-Length and Content-MD5; returns the status code.
int rawPut(const HttpsPeer& peer, const std::string& target, const std::filesystem::path& file,
           const std::string& contentMd5);

// GETs the target into `file` while computing its MD5; returns the hexadecimal digest. Throws
// std::runtime_error for a status other than 200.
std::string rawGet(const HttpsPeer& peer, const std::string& target, const std::filesystem::path& file);

}  // namespace kxbench
