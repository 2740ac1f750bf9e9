#include "service/Certificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <stdexcept>

#include <arpa/inet.h>

#include "service/Log.h"

namespace fs = std::filesystem;

namespace kxservice {

namespace {

using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using CertPtr = std::unique_ptr<X509, decltype(&X509_free)>;

constexpr long kDay = 24 * 3600;
constexpr long kRenewBefore = 30 * kDay;

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error("certificates: " + what);
}

KeyPtr newKey() {
    KeyPtr key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    if (!key) {
        fail("cannot make a key");
    }
    return key;
}

KeyPtr readKey(const fs::path& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return {nullptr, EVP_PKEY_free};
    }
    KeyPtr key(PEM_read_PrivateKey(f, nullptr, nullptr, nullptr), EVP_PKEY_free);
    std::fclose(f);
    return key;
}

CertPtr readCert(const fs::path& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return {nullptr, X509_free};
    }
    CertPtr cert(PEM_read_X509(f, nullptr, nullptr, nullptr), X509_free);
    std::fclose(f);
    return cert;
}

// Written to a fresh file beside (never an existing name, which may be a planted link), then renamed:
// a crash never leaves half a file.
void writePem(const fs::path& path, X509* cert, EVP_PKEY* key) {
    std::string tmp = path.string() + ".XXXXXX";
    const int fd = mkstemp(tmp.data());  // O_EXCL, 0600
    FILE* f = fd < 0 ? nullptr : fdopen(fd, "wb");
    if (f == nullptr) {
        if (fd >= 0) {
            close(fd);
            unlink(tmp.c_str());
        }
        fail("cannot write " + path.string());
    }
    const int ok = cert != nullptr ? PEM_write_X509(f, cert)
                                   : PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
    // The certificate is public; the key stays with the user.
    const bool modeSet = cert == nullptr || fchmod(fileno(f), 0644) == 0;
    if (std::fclose(f) != 0 || ok != 1 || !modeSet) {
        unlink(tmp.c_str());
        fail("cannot write " + path.string());
    }
    fs::rename(tmp, path);
}

void addExt(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    if (ext == nullptr) {
        fail("bad extension " + value);
    }
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

bool isIp(const std::string& name) {
    unsigned char buf[16];
    return inet_pton(AF_INET, name.c_str(), buf) == 1 || inet_pton(AF_INET6, name.c_str(), buf) == 1;
}

CertPtr makeCert(const std::string& cn, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey, long days,
                 const std::vector<std::string>& names) {
    CertPtr cert(X509_new(), X509_free);
    X509_set_version(cert.get(), 2);
    unsigned char serial[16];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7f;
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
    BN_free(bn);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), days * kDay);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("kestrix-service"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn.c_str()),
                               -1, -1, 0);
    X509* signer = issuer != nullptr ? issuer : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
    addExt(cert.get(), signer, NID_subject_key_identifier, "hash");
    if (issuer == nullptr) {
        addExt(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE,pathlen:0");
        addExt(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        addExt(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
        addExt(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
        addExt(cert.get(), signer, NID_key_usage, "critical,digitalSignature,keyEncipherment");
        addExt(cert.get(), signer, NID_ext_key_usage, "serverAuth");
        std::string san;
        for (const std::string& n : names) {
            san += (san.empty() ? "" : ",") + std::string(isIp(n) ? "IP:" : "DNS:") + n;
        }
        addExt(cert.get(), signer, NID_subject_alt_name, san);
    }
    if (X509_sign(cert.get(), issuerKey, EVP_sha256()) == 0) {
        fail("cannot sign " + cn);
    }
    return cert;
}

bool validFor(X509* cert, long seconds) {
    time_t when = std::time(nullptr) + seconds;
    return X509_cmp_time(X509_get0_notAfter(cert), &when) > 0;
}

// The names of the certificate's subjectAltName, as text, sorted.
std::vector<std::string> namesOf(X509* cert) {
    std::vector<std::string> out;
    auto* gens = static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
    if (gens == nullptr) {
        return out;
    }
    for (int i = 0; i < sk_GENERAL_NAME_num(gens); ++i) {
        const GENERAL_NAME* g = sk_GENERAL_NAME_value(gens, i);
        if (g->type == GEN_DNS) {
            const ASN1_STRING* s = g->d.dNSName;
            out.emplace_back(reinterpret_cast<const char*>(ASN1_STRING_get0_data(s)),
                             static_cast<size_t>(ASN1_STRING_length(s)));
        } else if (g->type == GEN_IPADD) {
            const ASN1_OCTET_STRING* s = g->d.iPAddress;
            char text[INET6_ADDRSTRLEN] = {};
            const int af = ASN1_STRING_length(s) == 4 ? AF_INET : AF_INET6;
            inet_ntop(af, ASN1_STRING_get0_data(s), text, sizeof text);
            out.emplace_back(text);
        }
    }
    GENERAL_NAMES_free(gens);
    std::sort(out.begin(), out.end());
    return out;
}

// The address in its canonical text (so "::0001" matches "::1").
std::string canonical(const std::string& name) {
    unsigned char buf[16];
    char text[INET6_ADDRSTRLEN] = {};
    if (inet_pton(AF_INET6, name.c_str(), buf) == 1) {
        inet_ntop(AF_INET6, buf, text, sizeof text);
        return text;
    }
    return name;
}

}  // namespace

void checkKeyFile(const fs::path& keyFile) {
    struct stat st {};
    if (stat(keyFile.c_str(), &st) != 0) {
        fail("cannot read " + keyFile.string());
    }
    if ((st.st_mode & S_IROTH) != 0) {
        fail(keyFile.string() + " is readable by every user: make it private (chmod o-r) before serving it");
    }
}

std::vector<std::string> serverNames(const std::string& listenHost) {
    std::vector<std::string> names = {"localhost", "127.0.0.1", "::1"};
    const std::string host = canonical(listenHost);
    if (std::find(names.begin(), names.end(), host) == names.end()) {
        names.push_back(host);
    }
    return names;
}

TlsFiles ensureCertificates(const fs::path& dir, const std::vector<std::string>& names) {
    fs::create_directories(dir);
    const TlsFiles files{dir / "server.pem", dir / "server-key.pem", dir / "ca.pem"};
    const fs::path caKeyFile = dir / "ca-key.pem";
    std::vector<std::string> wanted;
    for (const std::string& n : names) {
        wanted.push_back(canonical(n));
    }
    std::sort(wanted.begin(), wanted.end());

    KeyPtr caKey = readKey(caKeyFile);
    CertPtr ca = readCert(files.ca);
    const bool caOk =
        caKey && ca && validFor(ca.get(), kRenewBefore) && X509_check_private_key(ca.get(), caKey.get());
    if (caOk) {
        KeyPtr key = readKey(files.key);
        CertPtr cert = readCert(files.cert);
        if (key && cert && validFor(cert.get(), kRenewBefore) &&
            X509_check_private_key(cert.get(), key.get()) && X509_verify(cert.get(), caKey.get()) == 1 &&
            namesOf(cert.get()) == wanted) {
            return files;
        }
    } else {
        caKey = newKey();
        ca = makeCert("kestrix-service local CA", caKey.get(), nullptr, caKey.get(), 3650, {});
        writePem(caKeyFile, nullptr, caKey.get());
        writePem(files.ca, ca.get(), nullptr);
        logLine("made a new CA certificate " + files.ca.string());
    }
    KeyPtr key = newKey();
    CertPtr cert = makeCert("kestrix-service", key.get(), ca.get(), caKey.get(), 397, names);
    writePem(files.key, nullptr, key.get());
    writePem(files.cert, cert.get(), nullptr);
    logLine("made a new server certificate " + files.cert.string());
    return files;
}

}  // namespace kxservice
