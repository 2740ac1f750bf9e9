#include "remote/ServiceSettings.h"

#include <stdexcept>
#include <system_error>

#include <QFile>

#include "protocol/ServiceDefaults.h"
#include "vexkit/Paths.h"

namespace remote {

QUrl sessionUrl(const ServiceSettings& settings) {
    return QUrl(QStringLiteral("%1://%2%3")
                    .arg(QStringLiteral("wss"), settings.address,
                         QString::fromLatin1(service_defaults::kClientPath)));
}

QSslConfiguration sslConfiguration(const ServiceSettings& settings) {
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    if (!settings.extraCa.isEmpty()) {
        config.addCaCertificates(settings.extraCa);
    }
    return config;
}

QList<QSslCertificate> loadCaFile(const std::filesystem::path& file) {
    QFile in(toQStr(file));
    QList<QSslCertificate> certs;
    if (in.open(QIODevice::ReadOnly)) {
        certs = QSslCertificate::fromData(in.readAll(), QSsl::Pem);
    }
    if (certs.isEmpty()) {
        throw std::runtime_error("cannot read CA certificates from " + file.u8string());
    }
    return certs;
}

ServiceSettings resolveServiceSettings(const std::optional<std::string>& address,
                                       const std::optional<std::filesystem::path>& caFile) {
    ServiceSettings settings;
    if (address) {
        settings.address = QString::fromStdString(*address);
    } else if (!qEnvironmentVariableIsEmpty("KX_SERVICE")) {
        settings.address = qEnvironmentVariable("KX_SERVICE");
    } else {
        settings.address = QString::fromStdString(service_defaults::address());
    }
    if (caFile) {
        settings.extraCa = loadCaFile(*caFile);
    } else if (!qEnvironmentVariableIsEmpty("KX_SERVICE_CA")) {
        settings.extraCa = loadCaFile(toPath(qEnvironmentVariable("KX_SERVICE_CA")));
    } else {
        std::error_code ec;
        const std::filesystem::path local = service_defaults::caFile();
        if (std::filesystem::is_regular_file(local, ec)) {
            // A default that cannot be read is no reason to refuse: the session then fails its handshake.
            try {
                settings.extraCa = loadCaFile(local);
            } catch (const std::runtime_error&) {
            }
        }
    }
    return settings;
}

}  // namespace remote
