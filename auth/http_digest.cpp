#include "http_digest.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cctype>
#include <cstring>

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

void skipSeparators(std::string_view text, size_t &at)
{
    while (at < text.size() && (isSpace(text[at]) || text[at] == ',')) {
        ++at;
    }
}

// One auth-param "name=value" or "name=\"quoted\"" from at; false at the end.
bool nextParameter(std::string_view text, size_t &at, std::string &name, std::string &value)
{
    skipSeparators(text, at);
    size_t start = at;
    while (at < text.size() && text[at] != '=' && !isSpace(text[at]) && text[at] != ',') {
        ++at;
    }
    if (at == start) {
        return false;
    }
    name.assign(text.substr(start, at - start));
    while (at < text.size() && isSpace(text[at])) {
        ++at;
    }
    value.clear();
    if (at >= text.size() || text[at] != '=') {
        return true; // a bare token: no value
    }
    ++at;
    while (at < text.size() && isSpace(text[at])) {
        ++at;
    }
    if (at < text.size() && text[at] == '"') {
        for (++at; at < text.size() && text[at] != '"'; ++at) {
            if (text[at] == '\\' && at + 1 < text.size()) {
                ++at;
            }
            value.push_back(text[at]);
        }
        ++at; // the closing quote (or past the end)
        return true;
    }
    start = at;
    while (at < text.size() && text[at] != ',' && !isSpace(text[at])) {
        ++at;
    }
    value.assign(text.substr(start, at - start));
    return true;
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

std::string toHex(const unsigned char *bytes, size_t size)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string hex(size * 2, '0');
    for (size_t i = 0; i < size; ++i) {
        hex[2 * i] = kDigits[bytes[i] >> 4];
        hex[2 * i + 1] = kDigits[bytes[i] & 0x0f];
    }
    return hex;
}

// Lower-case hex of the hash of text; empty when libcrypto fails.
std::string hashHex(const EVP_MD *md, const std::string &text)
{
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(text.data(), text.size(), out, &size, md, nullptr) != 1) {
        return {};
    }
    std::string hex = toHex(out, size);
    OPENSSL_cleanse(out, sizeof out);
    return hex;
}

void clear(std::string &text)
{
    if (!text.empty()) {
        OPENSSL_cleanse(&text[0], text.size());
    }
    text.clear();
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

bool parseDigestChallenge(std::string_view value, DigestChallenge &challenge)
{
    size_t at = 0;
    while (at < value.size() && isSpace(value[at])) {
        ++at;
    }
    constexpr std::string_view kScheme = "Digest";
    if (value.size() - at < kScheme.size() || !equalsNoCase(value.substr(at, 6), kScheme) ||
        (value.size() - at > kScheme.size() && !isSpace(value[at + kScheme.size()]))) {
        return false;
    }
    at += kScheme.size();
    challenge = DigestChallenge{};
    std::string name;
    std::string parameter;
    while (nextParameter(value, at, name, parameter)) {
        if (equalsNoCase(name, "realm")) {
            challenge.realm = parameter;
        } else if (equalsNoCase(name, "nonce")) {
            challenge.nonce = parameter;
        } else if (equalsNoCase(name, "opaque")) {
            challenge.opaque = parameter;
            challenge.hasOpaque = true;
        } else if (equalsNoCase(name, "algorithm")) {
            challenge.algorithm = parameter;
        } else if (equalsNoCase(name, "qop")) {
            challenge.qop = parameter;
        }
    }
    return true;
}

namespace
{

// The hash of an algorithm name (MD5 when none is named); session tells a
// "-sess" variant. Null for an algorithm this side does not offer.
const EVP_MD *digestOf(std::string_view algorithm, bool &session)
{
    constexpr std::string_view kSession = "-sess";
    session = algorithm.size() > kSession.size() &&
              equalsNoCase(algorithm.substr(algorithm.size() - kSession.size()), kSession);
    if (session) {
        algorithm.remove_suffix(kSession.size());
    }
    if (algorithm.empty() || equalsNoCase(algorithm, "MD5")) {
        return EVP_md5();
    }
    if (equalsNoCase(algorithm, "SHA-256")) {
        return EVP_sha256();
    }
    return nullptr;
}

} // namespace

DigestOutcome answerDigestChallenge(const DigestChallenge &challenge, const char *user,
                                    const char *password, const char *method, std::string_view uri,
                                    std::string_view cnonce, std::string &authorization)
{
    bool session = false;
    const EVP_MD *md = digestOf(challenge.algorithm, session);
    if (md == nullptr) {
        return DigestOutcome::UnsupportedAlgorithm;
    }
    bool withQop = !challenge.qop.empty();
    if (challenge.nonce.empty() || (withQop && !listHolds(challenge.qop, "auth"))) {
        return DigestOutcome::Unusable;
    }
    constexpr const char *kCount = "00000001";

    std::string secret = std::string(user) + ":" + challenge.realm + ":" + password;
    std::string ha1 = hashHex(md, secret);
    clear(secret);
    if (session) {
        std::string sessionText = ha1 + ":" + challenge.nonce + ":" + std::string(cnonce);
        clear(ha1);
        ha1 = hashHex(md, sessionText);
        clear(sessionText);
    }
    std::string ha2 = hashHex(md, std::string(method) + ":" + std::string(uri));
    std::string final = ha1 + ":" + challenge.nonce + ":";
    if (withQop) {
        final += std::string(kCount) + ":" + std::string(cnonce) + ":auth:";
    }
    final += ha2;
    clear(ha1);
    std::string response = hashHex(md, final);
    clear(final);
    if (response.empty() || ha2.empty()) {
        return DigestOutcome::Unusable;
    }

    authorization = "Digest username=" + quoted(user) + ", realm=" + quoted(challenge.realm) +
                    ", nonce=" + quoted(challenge.nonce) + ", uri=" + quoted(uri);
    if (!challenge.algorithm.empty()) {
        authorization += ", algorithm=" + challenge.algorithm;
    }
    authorization += ", response=" + quoted(response);
    if (withQop) {
        authorization += ", qop=auth, nc=" + std::string(kCount) + ", cnonce=" + quoted(cnonce);
    }
    if (challenge.hasOpaque) {
        authorization += ", opaque=" + quoted(challenge.opaque);
    }
    clear(response);
    return DigestOutcome::Ready;
}

std::string makeClientNonce()
{
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1) {
        return {};
    }
    return toHex(bytes, sizeof bytes);
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
