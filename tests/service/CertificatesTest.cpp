// The service's certificates are made once, reused, and made again when the names they must carry change,
// keeping the CA that clients already trust.
#include "service/Certificates.h"
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

}  // namespace
}  // namespace kxtest
