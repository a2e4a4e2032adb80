// The WWW-Authenticate values of one refusal: the input split on '\n' into
// up to four header values, their Digest challenges ordered strongest first,
// and each answered with a fixed user, password, request target and client
// nonce. An answer that is ready must read back, through the same parser,
// as the challenge's realm, nonce, opaque and algorithm: a quoting fault
// would let a camera's text change the header the library sends.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "http_digest.h"
#include "support.h"

namespace
{

constexpr size_t kMaxValues = 4;

// Whether the challenge's algorithm is one the library answers: MD5 (also
// when none is named) or SHA-256, each also as its session variant.
int strengthOf(const vek::DigestChallenge &challenge)
{
    std::string name;
    for (char c : challenge.algorithm) {
        name.push_back(static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c));
    }
    const std::string session = "-SESS";
    if (name.size() > session.size() &&
        name.compare(name.size() - session.size(), std::string::npos, session) == 0) {
        name.resize(name.size() - session.size());
    }
    if (name.empty() || name == "MD5") {
        return 1;
    }
    return name == "SHA-256" ? 2 : 0;
}

[[noreturn]] void fail(const char *what, const std::string &text)
{
    std::fprintf(stderr, "%s: [%s]\n", what, text.c_str());
    std::abort();
}

void expectReadBack(const vek::DigestChallenge &challenge, const std::string &authorization)
{
    const std::vector<vek::DigestChallenge> read = vek::parseDigestChallenges(authorization);
    if (read.size() != 1) {
        fail("the answer does not read as one Digest value", authorization);
    }
    const vek::DigestChallenge &back = read.front();
    if (back.realm != challenge.realm || back.nonce != challenge.nonce ||
        back.algorithm != challenge.algorithm || back.hasOpaque != challenge.hasOpaque ||
        back.opaque != challenge.opaque || back.qop != "auth") {
        fail("the answer reads back as another challenge", authorization);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    std::vector<std::string> values;
    size_t start = 0;
    while (values.size() + 1 < kMaxValues) {
        const size_t end = input.find('\n', start);
        if (end == std::string_view::npos) {
            break;
        }
        values.emplace_back(input.substr(start, end - start));
        start = end + 1;
    }
    values.emplace_back(input.substr(start));

    size_t parsed = 0;
    for (const std::string &value : values) {
        parsed += vek::parseDigestChallenges(value).size();
    }
    const std::vector<vek::DigestChallenge> ordered = vek::strongestFirst(values);
    if (ordered.size() != parsed) {
        fail("strongestFirst lost or added challenges", std::string(input));
    }
    for (size_t i = 0; i < ordered.size(); ++i) {
        const vek::DigestChallenge &challenge = ordered[i];
        if (i > 0 && strengthOf(ordered[i - 1]) < strengthOf(challenge)) {
            fail("a weaker challenge before a stronger one", std::string(input));
        }
        std::string authorization;
        const vek::DigestOutcome outcome = vek::answerDigestChallenge(
            challenge, "admin", "pa\"ss\\word", "POST", "/onvif/event_service",
            "0a4f113b0a4f113b0a4f113b0a4f113b", authorization);
        if ((outcome == vek::DigestOutcome::UnsupportedAlgorithm) != (strengthOf(challenge) == 0)) {
            fail("an algorithm answered or refused against its name", challenge.algorithm);
        }
        if (outcome == vek::DigestOutcome::Ready) {
            expectReadBack(challenge, authorization);
        }
    }
    return 0;
}
