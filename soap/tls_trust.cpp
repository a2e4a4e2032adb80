// Trust in the certificates of https:// event services. The runtime makes
// every TLS connection without judging the certificate (the chain is still
// verified against the trusted CAs, its result kept); the connection hook
// then accepts or refuses the camera by its pin, the mode, the chain and
// the name, before a byte of the request is sent.
#include "tls_trust.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <strings.h>

#include "error_record.h"
#include "exchange.h"
#include "exchange_failure.h"
#include "runtime_start.h"
#include "vek_log.h"
#include "vek_onvif_event.h"

namespace vek::tls
{
namespace
{

constexpr const char *kCheckFunc = "VEK_Onvif_Tls_Check";
constexpr size_t kMaxHostLength = 255;
constexpr size_t kMaxPathLength = 4096;
constexpr unsigned short kTlsFlags = SOAP_TLSv1_2 | SOAP_TLSv1_3;

struct TrustState {
    std::mutex mutex;
    uint32_t mode = VEK_ONVIF_TLS_VERIFY;
    std::string caFile;
    std::map<std::string, std::string> pins; // lower-case host -> fingerprint
    std::set<std::string> warned;            // hosts told about in mode ANY
};

TrustState &trust()
{
    static TrustState state;
    return state;
}

// What one connection needs of the trust settings, copied under the lock.
struct Snapshot {
    uint32_t mode;
    std::string caFile;
    std::optional<std::string> pin;
};

std::string lowerHost(std::string_view host)
{
    std::string text(host);
    for (char &c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

Snapshot snapshot(const char *host)
{
    TrustState &state = trust();
    std::lock_guard<std::mutex> lock(state.mutex);
    Snapshot copy{state.mode, state.caFile, std::nullopt};
    auto pin = state.pins.find(lowerHost(host != nullptr ? host : ""));
    if (pin != state.pins.end()) {
        copy.pin = pin->second;
    }
    return copy;
}

// True the first time host is seen in mode ANY (the set forgets everything
// when it is full, so a host may be told about again).
bool firstWarning(const char *host)
{
    TrustState &state = trust();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.warned.size() >= kMaxWarnedHosts) {
        state.warned.clear();
    }
    return state.warned.insert(lowerHost(host)).second;
}

using OpenFunc = SOAP_SOCKET (*)(struct soap *, const char *, const char *, int);

// The runtime's own connect, as a fresh context carries it.
OpenFunc runtimeOpen()
{
    static const OpenFunc open = [] {
        struct soap *probe = soap_new();
        OpenFunc found = probe != nullptr ? probe->fopen : nullptr;
        soap_free(probe);
        return found;
    }();
    return open;
}

// Stops the chain's verification at its first fault, so that the result
// names it; the handshake goes on and the hook judges.
int stopAtFirstFault(int ok, X509_STORE_CTX *)
{
    return ok;
}

// A fresh TLS set-up for soap: TLS 1.2 or newer, trusted CAs from caFile
// (the system's store when empty). Nothing of an earlier connection (its
// settings or a session to resume) is kept.
int configure(struct soap *soap, const std::string &caFile)
{
    startRuntime();
    if (soap->ssl != nullptr) {
        SSL_free(soap->ssl);
        soap->ssl = nullptr;
    }
    if (soap->session != nullptr) {
        SSL_SESSION_free(soap->session);
        soap->session = nullptr;
    }
    if (soap->ctx != nullptr) {
        SSL_CTX_free(soap->ctx);
        soap->ctx = nullptr;
    }
    soap->fsslverify = stopAtFirstFault;
    unsigned short flags = SOAP_SSL_NO_AUTHENTICATION | kTlsFlags;
    if (!caFile.empty()) {
        flags |= SOAP_SSL_NO_DEFAULT_CA_PATH;
    }
    int code = soap_ssl_client_context(soap, flags, nullptr, nullptr,
                                       caFile.empty() ? nullptr : caFile.c_str(), nullptr, nullptr);
    soap->cafile = nullptr; // read above; the text is ours
    return code;
}

const char *verifyReason(long result)
{
    switch (result) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return "expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "not yet valid";
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return "unknown issuer";
    default:
        return X509_verify_cert_error_string(result);
    }
}

struct X509Free {
    void operator()(X509 *cert) const { X509_free(cert); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

bool namesHost(X509 *cert, const char *host)
{
    return X509_check_ip_asc(cert, host, 0) == 1 ||
           X509_check_host(cert, host, std::strlen(host), 0, nullptr) == 1;
}

// Why the camera on soap's fresh TLS connection is refused; null when it is
// accepted.
const char *refusal(struct soap *soap, const char *host, const Snapshot &trusted,
                    const std::optional<std::string> &fingerprint)
{
    if (!fingerprint) {
        return "no certificate";
    }
    if (trusted.pin) {
        return *trusted.pin == *fingerprint ? nullptr : "pin mismatch";
    }
    if (trusted.mode == VEK_ONVIF_TLS_ANY) {
        if (firstWarning(host)) {
            VEK_LOG(kLevelError, VEK_ONVIF_OK, kCheckFunc, "TLS certificate of %s is not checked.",
                    host);
        }
        return nullptr;
    }
    long result = SSL_get_verify_result(soap->ssl);
    if (result != X509_V_OK) {
        return verifyReason(result);
    }
    X509Ptr leaf(SSL_get1_peer_certificate(soap->ssl));
    if (leaf == nullptr || !namesHost(leaf.get(), host)) {
        return "name mismatch";
    }
    return nullptr;
}

// After a connect that failed: when the TCP connection was made (the
// runtime had begun the TLS session), the handshake is what failed, or the
// camera never took part in it.
void noteHandshakeFailure(struct soap *soap, const char *host)
{
    if (soap->ssl == nullptr) {
        return;
    }
    if (soap->error == SOAP_TCP_ERROR) {
        noteFailure(VEK_ONVIF_FAIL_TIMEOUT,
                    std::string("no TLS handshake from ") + host + " in time");
    } else {
        noteFailure(VEK_ONVIF_FAIL_TLS, std::string("TLS handshake with ") + host + " failed");
    }
}

// The context's connect: plain HTTP as the runtime does it; HTTPS through
// the trust settings.
SOAP_SOCKET openChecked(struct soap *soap, const char *endpoint, const char *host, int port)
{
    OpenFunc open = runtimeOpen();
    if (endpoint == nullptr || strncasecmp(endpoint, "https:", 6) != 0 || host == nullptr) {
        return open(soap, endpoint, host, port);
    }
    Snapshot trusted = snapshot(host);
    if ((soap->error = configure(soap, trusted.caFile)) != SOAP_OK) {
        return SOAP_INVALID_SOCKET;
    }
    SOAP_SOCKET socket = open(soap, endpoint, host, port);
    if (!soap_valid_socket(socket)) {
        noteHandshakeFailure(soap, host);
        return socket;
    }
    if (soap->ssl == nullptr) {
        return socket;
    }
    std::optional<std::string> fingerprint = peerFingerprint(soap);
    const char *reason = refusal(soap, host, trusted, fingerprint);
    if (reason == nullptr) {
        return socket;
    }
    VEK_LOG(kLevelError, VEK_ONVIF_ERR_SOAP, kCheckFunc,
            "TLS certificate of %s refused (%s), SHA-256 %s.", host, reason,
            fingerprint ? fingerprint->c_str() : "none");
    noteFailure(VEK_ONVIF_FAIL_TLS,
                std::string("TLS certificate of ") + host + " refused (" + reason + ")");
    if (fingerprint) {
        noteTlsFingerprint(*fingerprint);
    }
    soap->socket = socket;
    soap->fclose(soap);
    soap->socket = SOAP_INVALID_SOCKET;
    soap_set_sender_error(soap, "TLS certificate refused", reason, SOAP_SSL_ERROR);
    return SOAP_INVALID_SOCKET;
}

bool readableCaFile(const std::string &path)
{
    std::FILE *file = std::fopen(path.c_str(), "r");
    if (file == nullptr) {
        return false;
    }
    X509Ptr first(PEM_read_X509(file, nullptr, nullptr, nullptr));
    std::fclose(file);
    return first != nullptr;
}

} // namespace

void attach(struct soap *soap)
{
    if (runtimeOpen() != nullptr) {
        soap->fopen = openChecked;
    }
}

int prepareUnchecked(struct soap *soap)
{
    int code = configure(soap, std::string());
    soap->fopen = runtimeOpen();
    return code;
}

std::optional<std::string> peerFingerprint(struct soap *soap)
{
    if (soap->ssl == nullptr) {
        return std::nullopt;
    }
    X509Ptr leaf(SSL_get1_peer_certificate(soap->ssl));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (leaf == nullptr || X509_digest(leaf.get(), EVP_sha256(), digest, &length) != 1) {
        return std::nullopt;
    }
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 0xf];
    }
    return text;
}

std::optional<std::string> normalizeFingerprint(std::string_view text)
{
    std::string digits;
    for (char c : text) {
        if (c == ':') {
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c)) || digits.size() == 64) {
            return std::nullopt;
        }
        digits += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (digits.size() != 64) {
        return std::nullopt;
    }
    return digits;
}

void reset()
{
    TrustState &state = trust();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.mode = VEK_ONVIF_TLS_VERIFY;
    state.caFile.clear();
    state.pins.clear();
    state.warned.clear();
}

static uint32_t fetchFingerprint(const char *pszUrl, char szSha256Hex[65], const char *kFunc)
{
    if (pszUrl == nullptr || szSha256Hex == nullptr || strncasecmp(pszUrl, "https://", 8) != 0) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, kFunc, "Not an https URL.");
        return VEK_ONVIF_ERR_PARAM;
    }
    vek::Exchange context;
    struct soap *soap = context.soap();
    if (soap == nullptr) {
        return VEK_ONVIF_ERR_NOMEM;
    }
    soap_set_endpoint(soap, pszUrl);
    if (soap->host[0] == '\0' || vek::tls::prepareUnchecked(soap) != SOAP_OK) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_SOAP, kFunc, "TLS handshake with %s failed.",
                pszUrl);
        noteFailure(soap->host[0] == '\0' ? VEK_ONVIF_FAIL_ARGUMENT : VEK_ONVIF_FAIL_TLS,
                    soap->host[0] == '\0' ? "the URL names no host" : "no TLS set-up");
        return VEK_ONVIF_ERR_SOAP;
    }
    // The bounds of an exchange tell an unknown host and a silent one.
    ExchangeBounds bounds(soap, ExchangeLimits{});
    std::optional<std::string> fingerprint;
    SOAP_SOCKET socket = SOAP_INVALID_SOCKET;
    if (bounds.beforeAttempt()) {
        socket = soap->fopen(soap, pszUrl, soap->host, soap->port);
    }
    if (soap_valid_socket(socket)) {
        fingerprint = vek::tls::peerFingerprint(soap);
        soap->socket = socket;
        soap->fclose(soap);
        soap->socket = SOAP_INVALID_SOCKET;
    }
    if (!fingerprint) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_SOAP, kFunc, "TLS handshake with %s failed.",
                pszUrl);
        if (soap_valid_socket(socket)) {
            noteFailure(VEK_ONVIF_FAIL_TLS, "the camera presented no certificate");
        } else {
            noteHandshakeFailure(soap, soap->host);
            noteExchangeFailure(soap, bounds);
        }
        return VEK_ONVIF_ERR_SOAP;
    }
    std::snprintf(szSha256Hex, 65, "%s", fingerprint->c_str());
    return VEK_ONVIF_OK;
}

} // namespace vek::tls

extern "C" {

VEK_ONVIF_API uint32_t VEK_Onvif_Tls_SetTrust(uint32_t ulMode, const char *pszCaFile)
{
    constexpr const char *kFunc = "VEK_Onvif_Tls_SetTrust";
    if (ulMode != VEK_ONVIF_TLS_VERIFY && ulMode != VEK_ONVIF_TLS_ANY) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, kFunc, "Unknown TLS trust mode.");
        return VEK_ONVIF_ERR_PARAM;
    }
    std::string caFile = pszCaFile != nullptr ? pszCaFile : "";
    if (caFile.size() > vek::tls::kMaxPathLength) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, kFunc, "CA file name too long.");
        return VEK_ONVIF_ERR_PARAM;
    }
    if (!caFile.empty() && !vek::tls::readableCaFile(caFile)) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc, "Cannot read CA file %s.",
                caFile.c_str());
        return VEK_ONVIF_ERR_FAIL;
    }
    vek::tls::TrustState &state = vek::tls::trust();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.mode = ulMode;
    state.caFile = std::move(caFile);
    return VEK_ONVIF_OK;
}

VEK_ONVIF_API uint32_t VEK_Onvif_Tls_PinHost(const char *pszHost, const char *pszSha256Hex)
{
    constexpr const char *kFunc = "VEK_Onvif_Tls_PinHost";
    if (pszHost == nullptr || pszHost[0] == '\0' ||
        std::strlen(pszHost) > vek::tls::kMaxHostLength) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, kFunc, "Invalid host to pin.");
        return VEK_ONVIF_ERR_PARAM;
    }
    std::optional<std::string> fingerprint;
    if (pszSha256Hex != nullptr) {
        fingerprint = vek::tls::normalizeFingerprint(pszSha256Hex);
        if (!fingerprint) {
            VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, kFunc, "Invalid SHA-256 fingerprint.");
            return VEK_ONVIF_ERR_PARAM;
        }
    }
    std::string host = vek::tls::lowerHost(pszHost);
    vek::tls::TrustState &state = vek::tls::trust();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!fingerprint) {
        state.pins.erase(host);
        return VEK_ONVIF_OK;
    }
    if (state.pins.size() >= vek::tls::kMaxPins && state.pins.count(host) == 0) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc, "Too many pinned hosts.");
        return VEK_ONVIF_ERR_FAIL;
    }
    state.pins[host] = *fingerprint;
    return VEK_ONVIF_OK;
}

VEK_ONVIF_API uint32_t VEK_Onvif_Tls_FetchFingerprint(const char *pszUrl, char szSha256Hex[65])
{
    constexpr const char *kFunc = "VEK_Onvif_Tls_FetchFingerprint";
    vek::OperationRecord record(kFunc);
    return record.finish(vek::tls::fetchFingerprint(pszUrl, szSha256Hex, kFunc));
}

} // extern "C"
