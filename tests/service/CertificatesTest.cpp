// The service's certificates are made once, reused, and made again when the names they must carry change,
// keeping the CA that clients already trust.
#include "service/Certificates.h"
#include "service/Service.h"
#include "tests/support/TestSupport.h"

namespace kxtest {
namespace {

TEST(Certificates, AreReusedAndRenewedForOtherNamesUnderTheSameCa) {
    TempDir dir;
    const auto first = kxservice::ensureCertificates(dir.path(), kxservice::serverNames("127.0.0.1"));
    const std::string ca = readFile(first.ca);
    const std::string cert = readFile(first.cert);
    EXPECT_EQ(std::filesystem::status(first.key).permissions() & std::filesystem::perms::group_all,
              std::filesystem::perms::none);

    const auto again = kxservice::ensureCertificates(dir.path(), kxservice::serverNames("127.0.0.1"));
    EXPECT_EQ(readFile(again.cert), cert);
    const auto renamed = kxservice::ensureCertificates(dir.path(), kxservice::serverNames("192.168.7.7"));
    const std::string renamedCert = readFile(renamed.cert);
    EXPECT_NE(renamedCert, cert);
    EXPECT_EQ(readFile(renamed.ca), ca);
    // A damaged CA is made again, and with it the server certificate.
    writeFile(first.ca, "garbage");
    const auto remade = kxservice::ensureCertificates(dir.path(), kxservice::serverNames("192.168.7.7"));
    EXPECT_NE(readFile(remade.ca), "garbage");
    EXPECT_NE(readFile(remade.cert), renamedCert);
}

TEST(Certificates, AreWrittenToFreshFilesAndServedOnlyWhenTheKeyIsPrivate) {
    TempDir dir;
    std::filesystem::create_directories(dir / "tls");
    std::filesystem::create_symlink(dir / "victim", dir / "tls" / "ca-key.pem.tmp");  // a name once fixed
    const auto files = kxservice::ensureCertificates(dir / "tls", kxservice::serverNames("127.0.0.1"));
    EXPECT_FALSE(std::filesystem::exists(dir / "victim"));
    const struct {
        std::filesystem::perms mode;
        bool serves;
    } rows[] = {{std::filesystem::perms(0644), false}, {std::filesystem::perms(0640), true}};
    for (const auto& row : rows) {
        std::filesystem::permissions(files.key, row.mode);
        kxservice::Options options;
        options.dataDir = dir / "data";
        options.port = 0;
        options.certFile = files.cert;
        options.keyFile = files.key;
        kxservice::Service service(options);
        EXPECT_EQ(
            [&] {
                try {
                    service.start();
                    return true;
                } catch (const kxservice::StartError&) {
                    return false;
                }
            }(),
            row.serves);
    }
}

}  // namespace
}  // namespace kxtest
