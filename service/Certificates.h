#pragma once
// The service's own TLS identity: a private CA that clients trust (its certificate is what they are
// given) and a server certificate that it signs.
#include <filesystem>
#include <string>
#include <vector>

namespace kxservice {

struct TlsFiles {
    std::filesystem::path cert;  // the server certificate
    std::filesystem::path key;   // its private key
    std::filesystem::path ca;    // what a client must trust
};

// In dir: "ca.pem", "ca-key.pem", "server.pem", "server-key.pem". Made on first use, reused while both
// certificates are valid for 30 more days and the server certificate names exactly `names` (DNS names
// or IP addresses) and is signed by the CA; otherwise the server certificate is made again (the CA too
// when it is near its end or unusable). Keys are readable by the user only. Throws std::runtime_error.
TlsFiles ensureCertificates(const std::filesystem::path& dir, const std::vector<std::string>& names);

// Throws std::runtime_error when the private key is readable by every user (a group may read it, as
// Debian's ssl-cert group does) or cannot be looked at.
void checkKeyFile(const std::filesystem::path& keyFile);

// localhost, 127.0.0.1, ::1 and the listening host, each once.
std::vector<std::string> serverNames(const std::string& listenHost);

}  // namespace kxservice
