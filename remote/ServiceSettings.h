#pragma once
// Where the client finds the service and which extra certificate authority it trusts for it: resolved
// once from the command line and the environment, then handed to each session as a value.
#include <filesystem>
#include <optional>
#include <string>

#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QString>
#include <QUrl>

namespace remote {

struct ServiceSettings {
    QString address;                 // "host[:port]"
    QList<QSslCertificate> extraCa;  // trusted in addition to the system's roots
};

// "wss://<address>/client".
QUrl sessionUrl(const ServiceSettings& settings);
// The default TLS configuration with the extra CA added; verification stays on.
QSslConfiguration sslConfiguration(const ServiceSettings& settings);

// The PEM certificates of a file. Throws std::runtime_error("cannot read CA certificates from <file>")
// when the file cannot be read or holds none.
QList<QSslCertificate> loadCaFile(const std::filesystem::path& file);

// Address: `address`, else KX_SERVICE, else the local service's default. CA file: `caFile`, else
// KX_SERVICE_CA, else the local service's default CA file when it exists. Throws loadCaFile's error for
// a CA file named by the option or the variable that cannot be read.
ServiceSettings resolveServiceSettings(const std::optional<std::string>& address,
                                       const std::optional<std::filesystem::path>& caFile);

}  // namespace remote
