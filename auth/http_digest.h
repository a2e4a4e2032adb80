// HTTP Digest access authentication (client side): reading a camera's
// "WWW-Authenticate: Digest ..." challenge and assembling the value of the
// Authorization header that answers it (qop "auth"; MD5, SHA-256 and their
// session variants). The hashes come from libcrypto; the texts that hold
// the password or HA1 are cleared before their memory is given back.
#ifndef VEK_HTTP_DIGEST_H
#define VEK_HTTP_DIGEST_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vek
{

struct DigestChallenge {
    std::string realm;
    std::string nonce;
    std::string opaque;
    std::string algorithm; // as the camera wrote it; empty means MD5
    std::string qop;       // the offered list, e.g. "auth,auth-int"; empty for none
    bool hasOpaque = false;
    bool stale = false; // the camera refused an earlier answer only for its old nonce
};

// Whether an answer to a would answer b: the same realm, nonce, opaque and
// algorithm.
bool sameChallenge(const DigestChallenge &a, const DigestChallenge &b);

// Every Digest challenge of one WWW-Authenticate value, in its order. The
// value is a list of challenges (RFC 7235: a scheme, then its parameters;
// commas inside quoted values belong to them); other schemes are left out.
std::vector<DigestChallenge> parseDigestChallenges(std::string_view value);

// The first Digest challenge of value; false when it holds none.
bool parseDigestChallenge(std::string_view value, DigestChallenge &challenge);

// The Digest challenges of all the WWW-Authenticate values of one answer,
// strongest first: SHA-256 before MD5 (their session variants alike), then
// the ones the library cannot answer; the camera's order among equals.
std::vector<DigestChallenge> strongestFirst(const std::vector<std::string> &values);

enum class DigestOutcome {
    Ready,                // authorization holds the header value
    UnsupportedAlgorithm, // the challenge's algorithm is none of the supported ones
    Unusable,             // no nonce, or no qop list holding "auth"
};

// The Authorization value answering challenge for a request of method to uri
// (the request target, e.g. "/onvif/event_service"). cnonce is the client
// nonce to use (hex text), nonceCount the how-manieth request with the
// challenge's nonce this is (1 for the first). Intermediate texts holding
// the password are cleared before return.
DigestOutcome answerDigestChallenge(const DigestChallenge &challenge, const char *user,
                                    const char *password, const char *method, std::string_view uri,
                                    std::string_view cnonce, std::string &authorization,
                                    uint32_t nonceCount = 1);

// A fresh client nonce: 32 hex digits from the random generator of libcrypto.
std::string makeClientNonce();

// The request target of url: its path and query, "/" when it has none.
std::string requestTarget(std::string_view url);

} // namespace vek

#endif // VEK_HTTP_DIGEST_H
