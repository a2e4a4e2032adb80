// Key and certificate generation through OpenSSL, all in memory.
#include "certificates.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>

#include <functional>
#include <memory>
#include <stdexcept>

namespace camsim
{
namespace
{

template <typename T, void (*Free)(T *)> struct Deleter {
    void operator()(T *p) const { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

void require(bool ok, const char *what)
{
    if (!ok) {
        throw std::runtime_error(std::string("camsim: certificate: ") + what);
    }
}

bool isIpAddress(const std::string &name)
{
    unsigned char buffer[16];
    return inet_pton(AF_INET, name.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, name.c_str(), buffer) == 1;
}

void addExtension(X509 *cert, X509V3_CTX *context, int nid, const std::string &value)
{
    X509_EXTENSION *extension = X509V3_EXT_conf_nid(nullptr, context, nid, value.c_str());
    require(extension != nullptr, "extension");
    int added = X509_add_ext(cert, extension, -1);
    X509_EXTENSION_free(extension);
    require(added == 1, "add extension");
}

std::string toPem(const std::function<int(BIO *)> &write)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    require(bio != nullptr && write(bio.get()) == 1, "PEM");
    char *data = nullptr;
    long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(length));
}

BioPtr readBio(const std::string &pem)
{
    return BioPtr(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
}

std::string fingerprintOf(X509 *cert)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    require(X509_digest(cert, EVP_sha256(), digest, &length) == 1, "digest");
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 0xf];
    }
    return text;
}

// A random positive serial number and the validity window (already over when expired).
void setSerialAndValidity(X509 *cert, bool expired)
{
    unsigned char serial[8];
    require(RAND_bytes(serial, sizeof serial) == 1, "serial");
    serial[0] &= 0x7f;
    uint64_t number = 0;
    for (unsigned char byte : serial) {
        number = (number << 8) | byte;
    }
    ASN1_INTEGER_set_uint64(X509_get_serialNumber(cert), number);
    long day = 24L * 3600;
    X509_gmtime_adj(X509_getm_notBefore(cert), expired ? -2 * day : -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), expired ? -day : 2 * day);
}

// The subjectAltName value: IP: for addresses, DNS: for every other name.
std::string alternativeNames(const std::vector<std::string> &names)
{
    std::string alternatives;
    for (const std::string &entry : names) {
        alternatives += (alternatives.empty() ? "" : ",");
        alternatives += (isIpAddress(entry) ? "IP:" : "DNS:") + entry;
    }
    return alternatives;
}

void addExtensions(X509 *cert, X509 *signer, const CertOptions &options)
{
    X509V3_CTX context;
    X509V3_set_ctx(&context, signer, cert, nullptr, nullptr, 0);
    addExtension(cert, &context, NID_subject_key_identifier, "hash");
    if (options.authority) {
        addExtension(cert, &context, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(cert, &context, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        addExtension(cert, &context, NID_basic_constraints, "CA:FALSE");
    }
    std::string alternatives = alternativeNames(options.names);
    if (!alternatives.empty()) {
        addExtension(cert, &context, NID_subject_alt_name, alternatives);
    }
}

} // namespace

Identity makeIdentity(const CertOptions &options, const Identity *issuer)
{
    KeyPtr key(EVP_EC_gen("P-256"));
    require(key != nullptr, "key");
    CertPtr cert(X509_new());
    require(cert != nullptr, "new");
    X509_set_version(cert.get(), 2);
    setSerialAndValidity(cert.get(), options.expired);
    require(X509_set_pubkey(cert.get(), key.get()) == 1, "public key");
    X509_NAME *name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>(options.commonName.c_str()),
                               -1, -1, 0);

    CertPtr issuerCert;
    KeyPtr issuerKey;
    if (issuer != nullptr) {
        BioPtr certBio = readBio(issuer->certPem);
        BioPtr keyBio = readBio(issuer->keyPem);
        issuerCert.reset(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
        issuerKey.reset(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
        require(issuerCert != nullptr && issuerKey != nullptr, "issuer");
    }
    X509 *signer = issuerCert ? issuerCert.get() : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
    addExtensions(cert.get(), signer, options);
    EVP_PKEY *signingKey = issuerKey ? issuerKey.get() : key.get();
    require(X509_sign(cert.get(), signingKey, EVP_sha256()) > 0, "sign");

    Identity identity;
    identity.certPem = toPem([&](BIO *bio) { return PEM_write_bio_X509(bio, cert.get()); });
    identity.keyPem = toPem([&](BIO *bio) {
        return PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
    identity.fingerprint = fingerprintOf(cert.get());
    return identity;
}

} // namespace camsim
