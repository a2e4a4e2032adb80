// HTTP Digest access authentication (client side): reading a camera's
// "WWW-Authenticate: Digest ..." challenge and assembling the value of the
// Authorization header that answers it (qop "auth"; MD5, SHA-256 and their
// session variants). The hashes come from libcrypto.
#ifndef VEK_HTTP_DIGEST_H
#define VEK_HTTP_DIGEST_H

#include <string>
#include <string_view>

namespace vek
{

struct DigestChallenge {
    std::string realm;
    std::string nonce;
    std::string opaque;
    std::string algorithm; // as the camera wrote it; empty means MD5
    std::string qop;       // the offered list, e.g. "auth,auth-int"; empty for none
    bool hasOpaque = false;
};

// Reads the parameters of a Digest challenge. False when value is no Digest
// challenge at all (another scheme).
bool parseDigestChallenge(std::string_view value, DigestChallenge &challenge);

enum class DigestOutcome {
    Ready,                // authorization holds the header value
    UnsupportedAlgorithm, // the challenge's algorithm is none of the supported ones
    Unusable,             // no nonce, or a qop list without "auth"
};

// The Authorization value answering challenge for a request of method to uri
// (the request target, e.g. "/onvif/event_service"). cnonce is the client
// nonce to use (hex text). Intermediate texts holding the password are
// cleared before return.
DigestOutcome answerDigestChallenge(const DigestChallenge &challenge, const char *user,
                                    const char *password, const char *method, std::string_view uri,
                                    std::string_view cnonce, std::string &authorization);

// A fresh client nonce: 32 hex digits from the random generator of libcrypto.
std::string makeClientNonce();

// The request target of url: its path and query, "/" when it has none.
std::string requestTarget(std::string_view url);

} // namespace vek

#endif // VEK_HTTP_DIGEST_H
