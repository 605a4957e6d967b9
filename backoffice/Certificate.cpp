#include "Certificate.h"

#include "protocol/Net.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <boost/asio/ip/address.hpp>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <sys/stat.h>

namespace backoffice {

namespace {

template <class T, void (*Free)(T*)> struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Cert = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Ext = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION, X509_EXTENSION_free>>;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

void need(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(std::string("cannot make the certificate: ") + what);
}

void addExtension(X509* cert, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    Ext ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str()));
    need(ext && X509_add_ext(cert, ext.get(), -1) == 1, "extension");
}

std::unique_ptr<std::FILE, FileCloser> create(const std::string& path, mode_t mode) {
    const mode_t old = ::umask(0777 & ~mode);
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "wx"));
    ::umask(old);
    if (!f)
        throw std::runtime_error("cannot create " + path + " (it must not exist yet)");
    return f;
}

} // namespace

void makeSelfSignedCertificate(const std::string& certificateFile, const std::string& keyFile,
                               const std::vector<std::string>& hosts, int days) {
    for (const std::string& path : {certificateFile, keyFile}) {
        if (std::filesystem::exists(path))
            throw std::runtime_error(path + " exists; not overwritten");
    }
    Key key(EVP_EC_gen("P-256"));
    need(key != nullptr, "key");
    Cert cert(X509_new());
    need(cert && X509_set_version(cert.get(), 2) == 1, "version");
    unsigned char serial[16];
    need(RAND_bytes(serial, sizeof serial) == 1, "serial");
    serial[0] &= 0x7f;
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    need(bn && BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get())), "serial");
    BN_free(bn);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -60);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 60L * 60 * 24 * days);
    need(X509_set_pubkey(cert.get(), key.get()) == 1, "public key");
    const std::string commonName = hosts.empty() ? "localhost" : hosts.front();
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>("marlo-backoffice"), -1, -1,
                               0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    need(X509_set_issuer_name(cert.get(), name) == 1, "issuer");
    std::string names = "DNS:localhost,IP:127.0.0.1";
    for (const std::string& host : hosts) {
        if (host.empty() || host.find_first_of(", \t") != std::string::npos)
            throw std::runtime_error("not a host name: " + host);
        boost::system::error_code ec;
        boost::asio::ip::make_address(host, ec);
        names += (ec ? ",DNS:" : ",IP:") + host;
    }
    addExtension(cert.get(), NID_basic_constraints, "critical,CA:TRUE,pathlen:0");
    addExtension(cert.get(), NID_key_usage, "critical,digitalSignature,keyCertSign");
    addExtension(cert.get(), NID_ext_key_usage, "serverAuth");
    addExtension(cert.get(), NID_subject_key_identifier, "hash");
    addExtension(cert.get(), NID_subject_alt_name, names);
    need(X509_sign(cert.get(), key.get(), EVP_sha256()) > 0, "signature");

    auto keyOut = create(keyFile, 0600);
    need(PEM_write_PrivateKey(keyOut.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1,
         "writing the key");
    auto certOut = create(certificateFile, 0644);
    need(PEM_write_X509(certOut.get(), cert.get()) == 1, "writing the certificate");
}

bool replaceSelfSignedCertificate(const std::string& certificateFile, const std::string& keyFile,
                                  const std::vector<std::string>& hosts, int days) {
    namespace fs = std::filesystem;
    const std::string newCertificate = certificateFile + ".new";
    const std::string newKey = keyFile + ".new";
    // Left by a run that stopped midway.
    fs::remove(newCertificate);
    fs::remove(newKey);
    makeSelfSignedCertificate(newCertificate, newKey, hosts, days);
    const bool hadPair = fs::exists(certificateFile) || fs::exists(keyFile);
    for (const std::string& path : {certificateFile, keyFile}) {
        if (fs::exists(path))
            fs::rename(path, path + ".old");
    }
    fs::rename(newKey, keyFile);
    fs::rename(newCertificate, certificateFile);
    return hadPair;
}

CertificateFacts readCertificateFacts(const std::string& pemFile) {
    const std::unique_ptr<std::FILE, FileCloser> in(std::fopen(pemFile.c_str(), "r"));
    if (!in)
        throw std::runtime_error("cannot read " + pemFile);
    const Cert cert(PEM_read_X509(in.get(), nullptr, nullptr, nullptr));
    if (!cert)
        throw std::runtime_error(pemFile + " holds no certificate");
    unsigned char* der = nullptr;
    const int length = i2d_X509(cert.get(), &der);
    if (length <= 0)
        throw std::runtime_error(pemFile + ": cannot encode the certificate");
    CertificateFacts facts;
    facts.fingerprint = protocol::net::fingerprintOfDer(
        std::string(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length)));
    OPENSSL_free(der);
    std::tm notAfter{};
    if (ASN1_TIME_to_tm(X509_get0_notAfter(cert.get()), &notAfter) != 1)
        throw std::runtime_error(pemFile + ": cannot read the certificate's expiry");
    facts.notAfter = ::timegm(&notAfter);
    return facts;
}

} // namespace backoffice
