// WS-Security UsernameToken with a password digest:
// Base64(SHA-1(nonce + created + password)), nonce and creation time.
#include <openssl/crypto.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "context_registry.h"
#include "request_headers.h"
#include "security_token.h"
#include "soapH.h"
#include "vek_log.h"
#include "vek_onvif_event.h"
#include "zeroed_record.h"

namespace
{

constexpr const char *kPasswordDigestType =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-username-token-profile-1.0#"
    "PasswordDigest";
constexpr uint32_t kNonceSize = 16;
constexpr uint32_t kDigestSize = 20;

// Process-wide nonce counter; the atomic increment keeps concurrent nonces
// distinct.
std::atomic<uint16_t> g_nonceCounter{0xCA53};

} // namespace

extern "C" {

VEK_ONVIF_API uint32_t __Onvif_CalcNonce(char *nonce16)
{
    if (nonce16 == nullptr) {
        return VEK_ONVIF_ERR_PARAM;
    }
    auto now = static_cast<unsigned>(std::time(nullptr));
    auto counter = static_cast<unsigned short>(g_nonceCounter.fetch_add(1));
    auto random = static_cast<unsigned>(std::rand());
    // 20 hex digits of which the buffer keeps the first 15 and a zero byte.
    ZU_snprintf(nonce16, kNonceSize, "%8.8x%4.4hx%8.8x", now, counter, random);
    return VEK_ONVIF_OK;
}

VEK_ONVIF_API uint32_t __Onvif_CalcDigest(const char *created, const unsigned char *nonce,
                                          uint32_t nonceLen, const char *password,
                                          unsigned char *digest20)
{
    if (created == nullptr || nonce == nullptr || password == nullptr || digest20 == nullptr) {
        return VEK_ONVIF_ERR_PARAM;
    }
    SHA1State state;
    SHA1Reset(&state);
    SHA1Input(nonce, nonceLen, &state);
    SHA1Input(reinterpret_cast<const unsigned char *>(created),
              static_cast<uint32_t>(std::strlen(created)), &state);
    SHA1Input(reinterpret_cast<const unsigned char *>(password),
              static_cast<uint32_t>(std::strlen(password)), &state);
    return static_cast<uint32_t>(SHA1ResultOut(&state, digest20));
}

VEK_ONVIF_API uint32_t VEK_Onvif_EncryptHeader(const char *user, const char *password,
                                               struct soap *soap)
{
    if (!vek::acceptCallerContext(soap, "VEK_Onvif_EncryptHeader")) {
        return VEK_ONVIF_ERR_PARAM;
    }
    return vek::writeSecurityHeader(user, password, soap);
}

} // extern "C"

uint32_t vek::writeSecurityHeader(const char *user, const char *password, struct soap *soap)
{
    if (user == nullptr || password == nullptr || soap == nullptr) {
        ZU_WriteLog(vek::kLevelError, VEK_ONVIF_ERR_FAIL, vek::kLogArg3, vek::kLogArg4,
                    vek::kWsseSource, __LINE__, "VEK_Onvif_EncryptHeader", "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    return vek::addSecurityToken(soap, user, password, std::time(nullptr));
}

uint32_t vek::addSecurityToken(struct soap *soap, const char *user, const char *password,
                               std::time_t created)
{
    // The runtime's text lives in a scratch buffer of the context: keep a
    // copy so that exactly the hashed text goes into Created.
    char createdText[64] = {0};
    std::strncpy(createdText, soap_dateTime2s(soap, created), sizeof createdText - 1);

    char nonce[kNonceSize] = {0};
    unsigned char digest[kDigestSize] = {0};
    (void)__Onvif_CalcNonce(nonce);
    (void)__Onvif_CalcDigest(createdText, reinterpret_cast<const unsigned char *>(nonce),
                             kNonceSize, password, digest);

    if (!vek::ensureRecord(soap, soap->header) ||
        !vek::ensureRecord(soap, soap->header->wsse__Security) ||
        !vek::ensureRecord(soap, soap->header->wsse__Security->UsernameToken) ||
        !vek::ensureRecord(soap, soap->header->wsse__Security->UsernameToken->Password)) {
        OPENSSL_cleanse(digest, sizeof digest);
        return VEK_ONVIF_ERR_NOMEM;
    }
    _wsse__UsernameToken *token = soap->header->wsse__Security->UsernameToken;
    token->Nonce =
        soap_s2base64(soap, reinterpret_cast<const unsigned char *>(nonce), nullptr, kNonceSize);
    token->Username = soap_strdup(soap, user);
    token->wsu__Created = soap_strdup(soap, createdText);
    token->Password->Type = soap_strdup(soap, kPasswordDigestType);
    token->Password->__item = soap_s2base64(soap, digest, nullptr, kDigestSize);
    OPENSSL_cleanse(digest, sizeof digest);
    if (token->Nonce == nullptr || token->Username == nullptr || token->wsu__Created == nullptr ||
        token->Password->Type == nullptr || token->Password->__item == nullptr) {
        return VEK_ONVIF_ERR_FAIL;
    }
    return VEK_ONVIF_OK;
}
