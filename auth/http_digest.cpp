#include "http_digest.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "secret_text.h"

namespace vek
{
namespace
{

bool equalsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isTokenChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) != 0 ||
           (c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
}

void skipSpaces(std::string_view text, size_t &at)
{
    while (at < text.size() && isSpace(text[at])) {
        ++at;
    }
}

std::string_view readToken(std::string_view text, size_t &at)
{
    size_t start = at;
    while (at < text.size() && isTokenChar(text[at])) {
        ++at;
    }
    return text.substr(start, at - start);
}

// A parameter's value: a quoted-string (its escapes undone) or a token.
std::string readValue(std::string_view text, size_t &at)
{
    std::string value;
    if (at < text.size() && text[at] == '"') {
        for (++at; at < text.size() && text[at] != '"'; ++at) {
            if (text[at] == '\\' && at + 1 < text.size()) {
                ++at;
            }
            value.push_back(text[at]);
        }
        ++at; // the closing quote (or past the end)
        return value;
    }
    return std::string(readToken(text, at));
}

void setParameter(DigestChallenge &challenge, std::string_view name, std::string value)
{
    if (equalsNoCase(name, "realm")) {
        challenge.realm = std::move(value);
    } else if (equalsNoCase(name, "nonce")) {
        challenge.nonce = std::move(value);
    } else if (equalsNoCase(name, "opaque")) {
        challenge.opaque = std::move(value);
        challenge.hasOpaque = true;
    } else if (equalsNoCase(name, "algorithm")) {
        challenge.algorithm = std::move(value);
    } else if (equalsNoCase(name, "qop")) {
        challenge.qop = std::move(value);
    } else if (equalsNoCase(name, "stale")) {
        challenge.stale = equalsNoCase(value, "true");
    }
}

// The algorithm of a challenge: its hash, whether it is a session variant,
// and how strong it is (0: not supported).
struct DigestAlgorithm {
    const EVP_MD *md = nullptr;
    bool session = false;
    int strength = 0;
};

DigestAlgorithm algorithmOf(const DigestChallenge &challenge)
{
    std::string_view name = challenge.algorithm;
    DigestAlgorithm algorithm;
    constexpr std::string_view kSession = "-sess";
    if (name.size() > kSession.size() &&
        equalsNoCase(name.substr(name.size() - kSession.size()), kSession)) {
        algorithm.session = true;
        name.remove_suffix(kSession.size());
    }
    if (name.empty() || equalsNoCase(name, "MD5")) {
        algorithm.md = EVP_md5();
        algorithm.strength = 1;
    } else if (equalsNoCase(name, "SHA-256")) {
        algorithm.md = EVP_sha256();
        algorithm.strength = 2;
    }
    return algorithm;
}

// Whether the comma-separated list holds token.
bool listHolds(std::string_view list, std::string_view token)
{
    size_t at = 0;
    while (at <= list.size()) {
        size_t end = list.find(',', at);
        if (end == std::string_view::npos) {
            end = list.size();
        }
        std::string_view item = list.substr(at, end - at);
        while (!item.empty() && isSpace(item.front())) {
            item.remove_prefix(1);
        }
        while (!item.empty() && isSpace(item.back())) {
            item.remove_suffix(1);
        }
        if (equalsNoCase(item, token)) {
            return true;
        }
        at = end + 1;
    }
    return false;
}

template <typename Text> Text toHex(const unsigned char *bytes, size_t size)
{
    static const char kDigits[] = "0123456789abcdef";
    Text hex(size * 2, '0');
    for (size_t i = 0; i < size; ++i) {
        hex[2 * i] = kDigits[bytes[i] >> 4];
        hex[2 * i + 1] = kDigits[bytes[i] & 0x0f];
    }
    return hex;
}

// Lower-case hex of the hash of text; empty when libcrypto fails.
template <typename Text> Text hashHex(const EVP_MD *md, std::string_view text)
{
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(text.data(), text.size(), out, &size, md, nullptr) != 1) {
        return {};
    }
    Text hex = toHex<Text>(out, size);
    OPENSSL_cleanse(out, sizeof out);
    return hex;
}

// a:b:c..., built in place: one block of the final size.
template <typename Text> Text joined(std::initializer_list<std::string_view> parts)
{
    size_t size = 0;
    for (std::string_view part : parts) {
        size += part.size() + 1;
    }
    Text text;
    text.reserve(size);
    bool first = true;
    for (std::string_view part : parts) {
        if (!first) {
            text.push_back(':'); // also after an empty part
        }
        first = false;
        text.append(part.data(), part.size());
    }
    return text;
}

// A quoted-string of text: quotes and backslashes escaped.
std::string quoted(std::string_view text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

} // namespace

bool sameChallenge(const DigestChallenge &a, const DigestChallenge &b)
{
    return a.nonce == b.nonce && a.realm == b.realm && a.opaque == b.opaque &&
           a.hasOpaque == b.hasOpaque && a.algorithm == b.algorithm;
}

std::vector<DigestChallenge> parseDigestChallenges(std::string_view value)
{
    // A list of challenges, each a scheme and then its parameters; a bare
    // token after a comma starts the next challenge, one after the scheme
    // is a token68 (credentials of another scheme), skipped.
    std::vector<DigestChallenge> found;
    bool inDigest = false; // the parameters read belong to found.back()
    bool afterComma = true;
    size_t at = 0;
    while (at < value.size()) {
        skipSpaces(value, at);
        if (at < value.size() && value[at] == ',') {
            ++at;
            afterComma = true;
            continue;
        }
        std::string_view token = readToken(value, at);
        if (token.empty()) {
            ++at; // no token here: a stray character (or a token68's '=')
            continue;
        }
        skipSpaces(value, at);
        if (at < value.size() && value[at] == '=') {
            ++at;
            skipSpaces(value, at);
            std::string parameter = readValue(value, at);
            if (inDigest) {
                setParameter(found.back(), token, std::move(parameter));
            }
            afterComma = false;
            continue;
        }
        if (afterComma) {
            inDigest = equalsNoCase(token, "Digest");
            if (inDigest) {
                found.emplace_back();
            }
        }
        afterComma = false;
    }
    return found;
}

bool parseDigestChallenge(std::string_view value, DigestChallenge &challenge)
{
    std::vector<DigestChallenge> found = parseDigestChallenges(value);
    if (found.empty()) {
        return false;
    }
    challenge = std::move(found.front());
    return true;
}

std::vector<DigestChallenge> strongestFirst(const std::vector<std::string> &values)
{
    std::vector<DigestChallenge> all;
    for (const std::string &value : values) {
        for (DigestChallenge &challenge : parseDigestChallenges(value)) {
            all.push_back(std::move(challenge));
        }
    }
    // Strongest first, the camera's order among equals (a stable sort of
    // three ranks, written out: the library is small on a recorder).
    std::vector<int> strengths;
    strengths.reserve(all.size());
    for (const DigestChallenge &challenge : all) {
        strengths.push_back(algorithmOf(challenge).strength);
    }
    std::vector<DigestChallenge> ordered;
    ordered.reserve(all.size());
    for (int strength = 2; strength >= 0; --strength) {
        for (size_t i = 0; i < all.size(); ++i) {
            if (strengths[i] == strength) {
                ordered.push_back(std::move(all[i]));
            }
        }
    }
    return ordered;
}

DigestOutcome answerDigestChallenge(const DigestChallenge &challenge, const char *user,
                                    const char *password, const char *method, std::string_view uri,
                                    std::string_view cnonce, std::string &authorization,
                                    uint32_t nonceCount)
{
    DigestAlgorithm algorithm = algorithmOf(challenge);
    if (algorithm.md == nullptr) {
        return DigestOutcome::UnsupportedAlgorithm;
    }
    // Without qop the answer would be the older form without a client
    // nonce, which the current rules no longer allow.
    if (challenge.nonce.empty() || !listHolds(challenge.qop, "auth")) {
        return DigestOutcome::Unusable;
    }
    char count[9];
    std::snprintf(count, sizeof count, "%08x", static_cast<unsigned>(nonceCount));

    SecretText secret = joined<SecretText>({user, challenge.realm, password});
    SecretText ha1 = hashHex<SecretText>(algorithm.md, secret);
    clearSecret(secret);
    if (algorithm.session) {
        SecretText sessionText = joined<SecretText>({ha1, challenge.nonce, cnonce});
        clearSecret(ha1);
        ha1 = hashHex<SecretText>(algorithm.md, sessionText);
        clearSecret(sessionText);
    }
    std::string ha2 = hashHex<std::string>(algorithm.md, joined<std::string>({method, uri}));
    SecretText final = joined<SecretText>({ha1, challenge.nonce, count, cnonce, "auth", ha2});
    clearSecret(ha1);
    SecretText response = hashHex<SecretText>(algorithm.md, final);
    clearSecret(final);
    if (response.empty() || ha2.empty()) {
        return DigestOutcome::Unusable;
    }

    authorization = "Digest username=" + quoted(user) + ", realm=" + quoted(challenge.realm) +
                    ", nonce=" + quoted(challenge.nonce) + ", uri=" + quoted(uri);
    if (!challenge.algorithm.empty()) {
        authorization += ", algorithm=" + challenge.algorithm;
    }
    authorization += ", response=" + quoted(response) + ", qop=auth, nc=" + std::string(count) +
                     ", cnonce=" + quoted(cnonce);
    if (challenge.hasOpaque) {
        authorization += ", opaque=" + quoted(challenge.opaque);
    }
    clearSecret(response);
    return DigestOutcome::Ready;
}

std::string makeClientNonce()
{
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1) {
        return {};
    }
    return toHex<std::string>(bytes, sizeof bytes);
}

std::string requestTarget(std::string_view url)
{
    size_t scheme = url.find("://");
    size_t start = scheme == std::string_view::npos ? 0 : scheme + 3;
    size_t path = url.find_first_of("/?", start);
    if (path == std::string_view::npos) {
        return "/";
    }
    std::string target(url.substr(path));
    size_t fragment = target.find('#');
    if (fragment != std::string::npos) {
        target.erase(fragment);
    }
    if (target.empty() || target[0] != '/') {
        target.insert(0, "/");
    }
    return target;
}

} // namespace vek
