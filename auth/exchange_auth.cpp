// The authentication of an exchange: what the camera host is known to need
// (the camera host table: its digest challenge, its clock) goes with the
// first request; a request the camera refused as not authorized is sent
// once more when the refusal tells something new: the camera's time in the
// HTTP Date header differs from the one Created followed, or an HTTP Digest
// challenge that was not answered yet (none was kept, the camera sets
// another, or it says the kept nonce is stale). The refusal's answers are
// read from the answer's header lines while the stub runs and kept for the
// host. A wrong password costs the camera at most two requests.
#include <openssl/crypto.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "camera_hosts.h"
#include "exchange.h"
#include "exchange_failure.h"
#include "http_date.h"
#include "http_digest.h"
#include "security_token.h"
#include "soapH.h"
#include "vek_log.h"

namespace vek
{
namespace
{

// A clock difference up to this many seconds is left alone: cameras accept
// a few seconds of difference, and the Date header is whole seconds.
constexpr long long kClockTolerance = 5;
constexpr size_t kAlgorithmLogLength = 32;

bool sameKey(const char *key, const char *name)
{
    return key != nullptr && soap_tag_cmp(key, name) == 0;
}

// Watches the header lines of the answers the context receives, and adds
// the Authorization line to the requests it sends, while it lives. The
// runtime's callbacks carry only the context, and soap->user belongs to
// others during a call: the watch of the running call is found through a
// per-thread pointer (a stub runs on the caller's thread), which the watch
// sets and restores.
class AnswerWatch
{
  public:
    explicit AnswerWatch(struct soap *soap)
        : soap_(soap), innerParse_(soap->fparsehdr), innerPost_(soap->fposthdr), outer_(active_)
    {
        soap->fparsehdr = &AnswerWatch::parseHeader;
        soap->fposthdr = &AnswerWatch::postHeader;
        active_ = this;
    }
    ~AnswerWatch()
    {
        soap_->fparsehdr = innerParse_;
        soap_->fposthdr = innerPost_;
        active_ = outer_;
        forgetAuthorization();
    }
    AnswerWatch(const AnswerWatch &) = delete;
    AnswerWatch &operator=(const AnswerWatch &) = delete;

    // Forgets what an earlier answer told.
    void reset()
    {
        hasDate_ = false;
        challenges_.clear();
    }
    bool hasDate() const { return hasDate_; }
    long long offset() const { return offset_; }
    const std::vector<std::string> &challenges() const { return challenges_; }

    // The value sent as "Authorization" with the next request.
    void setAuthorization(std::string value) { authorization_ = std::move(value); }
    void forgetAuthorization()
    {
        if (!authorization_.empty()) {
            OPENSSL_cleanse(&authorization_[0], authorization_.size());
        }
        authorization_.clear();
    }

  private:
    static AnswerWatch *find(struct soap *soap)
    {
        for (AnswerWatch *watch = active_; watch != nullptr; watch = watch->outer_) {
            if (watch->soap_ == soap) {
                return watch;
            }
        }
        return nullptr;
    }

    static int parseHeader(struct soap *soap, const char *key, const char *value)
    {
        AnswerWatch *self = find(soap);
        if (self == nullptr) {
            return SOAP_OK;
        }
        int code = self->innerParse_ != nullptr ? self->innerParse_(soap, key, value) : SOAP_OK;
        if (value == nullptr) {
            return code;
        }
        if (sameKey(key, "Date")) {
            std::time_t camera = 0;
            if (parseHttpDate(value, camera)) {
                self->hasDate_ = true;
                self->offset_ =
                    static_cast<long long>(camera) - static_cast<long long>(std::time(nullptr));
            }
        } else if (sameKey(key, "WWW-Authenticate") && self->challenges_.size() < 4) {
            self->challenges_.emplace_back(value);
        }
        return code;
    }

    static int postHeader(struct soap *soap, const char *key, const char *value)
    {
        AnswerWatch *self = find(soap);
        if (self == nullptr) {
            return SOAP_OK;
        }
        // The runtime ends the header lines with a call without key.
        if (key == nullptr && !self->authorization_.empty() && self->innerPost_ != nullptr) {
            int code = self->innerPost_(soap, "Authorization", self->authorization_.c_str());
            if (code != SOAP_OK) {
                return code;
            }
        }
        return self->innerPost_ != nullptr ? self->innerPost_(soap, key, value) : SOAP_OK;
    }

    static thread_local AnswerWatch *active_;

    struct soap *soap_;
    int (*innerParse_)(struct soap *, const char *, const char *);
    int (*innerPost_)(struct soap *, const char *, const char *);
    AnswerWatch *outer_;
    bool hasDate_ = false;
    long long offset_ = 0;
    std::vector<std::string> challenges_;
    std::string authorization_;
};

thread_local AnswerWatch *AnswerWatch::active_ = nullptr;

bool httpUnauthorized(const struct soap *soap)
{
    return soap->error == 401;
}

struct Credentials {
    const char *user;
    const char *password;
};

struct DigestAnswer {
    std::string authorization; // empty: no challenge could be met
    DigestChallenge challenge; // the one it answers
};

void clearText(std::string &text)
{
    if (!text.empty()) {
        OPENSSL_cleanse(&text[0], text.size());
    }
    text.clear();
}

void logUnmet(const std::string &unsupported, bool unusable, const char *func)
{
    if (!unsupported.empty() && !unusable) {
        std::string shown = unsupported.substr(0, kAlgorithmLogLength);
        for (char &c : shown) {
            if (c < 0x20 || c > 0x7e) {
                c = '?';
            }
        }
        VEK_LOG(kLevelError, VEK_ONVIF_ERR_FAIL, func, "unsupported digest algorithm %s",
                shown.c_str());
    } else {
        VEK_LOG(kLevelError, VEK_ONVIF_ERR_FAIL, func, "HTTP digest refused");
    }
}

// The answer to the strongest Digest challenge that can be met, as the
// first request with its nonce; no authorization (and the reason logged)
// when none can.
DigestAnswer answerChallenges(const std::vector<std::string> &challenges, const Credentials &who,
                              const char *url, const char *func)
{
    std::string unsupported;
    bool unusable = false;
    bool seen = false;
    for (const DigestChallenge &challenge : strongestFirst(challenges)) {
        seen = true;
        DigestAnswer answer{{}, challenge};
        DigestOutcome outcome =
            answerDigestChallenge(challenge, who.user, who.password, "POST", requestTarget(url),
                                  makeClientNonce(), answer.authorization);
        if (outcome == DigestOutcome::Ready) {
            return answer;
        }
        if (outcome == DigestOutcome::UnsupportedAlgorithm && unsupported.empty()) {
            unsupported = challenge.algorithm;
        } else if (outcome == DigestOutcome::Unusable) {
            unusable = true;
        }
    }
    if (seen) {
        logUnmet(unsupported, unusable, func);
    }
    return {};
}

// The answer to the challenge kept for the camera host, with the count
// taken for this request; empty when none is kept.
std::string answerKept(const CameraHostState &kept, const Credentials &who, const char *url)
{
    std::string authorization;
    if (kept.challenge && url != nullptr &&
        answerDigestChallenge(*kept.challenge, who.user, who.password, "POST", requestTarget(url),
                              makeClientNonce(), authorization,
                              kept.nonceCount) != DigestOutcome::Ready) {
        clearText(authorization);
    }
    return authorization;
}

// The camera host's entry for one call: taken when the call starts (a
// nonce count of the call's own for its first request), replaced by what a
// refusal told.
class HostMemory
{
  public:
    explicit HostMemory(const char *url) : key_(url != nullptr ? cameraHostKey(url) : std::string())
    {
        take();
    }
    const CameraHostState &state() const { return state_; }
    // The entry once more: the next count for one more answer to its challenge.
    void take()
    {
        std::optional<CameraHostState> kept;
        if (!key_.empty()) {
            kept = cameraHosts().use(key_, CameraHostTable::Clock::now());
        }
        state_ = kept ? std::move(*kept) : CameraHostState{};
    }
    void keep(CameraHostState state)
    {
        if (!key_.empty()) {
            cameraHosts().keep(key_, std::move(state), CameraHostTable::Clock::now());
        }
    }

  private:
    std::string key_;
    CameraHostState state_;
};

// What a refusal tells for one more request and for the camera host's
// entry.
struct SecondRequest {
    std::string authorization; // empty: none
    bool newAnswer = false;    // authorization answers a challenge this refusal brought
    bool clockChanged = false; // the camera's clock is not the one Created followed
    long long offset = 0;      // for Created: the camera's clock minus ours
    CameraHostState learnt;
};

// The clock of the refusal: Created follows it when it is off by more than
// the tolerance, and it is kept for the host then.
void readClock(const AnswerWatch &watch, long long sentOffset, SecondRequest &next)
{
    next.offset = sentOffset;
    if (!watch.hasDate()) {
        return;
    }
    bool skewed = std::llabs(watch.offset()) > kClockTolerance;
    next.clockChanged = std::llabs(watch.offset() - sentOffset) > kClockTolerance;
    next.offset = skewed ? watch.offset() : 0;
    next.learnt.clockOffset =
        skewed ? std::optional<long long>(watch.offset()) : std::optional<long long>();
}

// The challenge of a 401: answered once more when none was kept, or when
// the camera now sets another (or says the kept nonce is stale). A refused
// answer to the challenge it still sets is final: the credentials are not
// the camera's.
void readChallenge(const AnswerWatch &watch, const CameraHostState &sent, const Credentials &who,
                   const char *url, const char *func, SecondRequest &next)
{
    DigestAnswer answer = answerChallenges(watch.challenges(), who, url, func);
    if (answer.authorization.empty()) {
        next.learnt.challenge.reset();
        next.learnt.nonceCount = 0;
        return;
    }
    if (sent.challenge && !answer.challenge.stale &&
        sameChallenge(answer.challenge, *sent.challenge)) {
        clearText(answer.authorization);
        VEK_LOG(kLevelError, VEK_ONVIF_ERR_FAIL, func, "HTTP digest refused");
        return;
    }
    next.authorization = std::move(answer.authorization);
    next.newAnswer = true;
    answer.challenge.stale = false;
    next.learnt.challenge = std::move(answer.challenge);
    next.learnt.nonceCount = 1;
}

// What a refusal of a request sent with the host's kept state tells.
SecondRequest readRefusal(const AnswerWatch &watch, const CameraHostState &sent,
                          long long sentOffset, bool unauthorized, const Credentials &who,
                          const char *url, const char *func)
{
    SecondRequest next;
    next.learnt = sent;
    readClock(watch, sentOffset, next);
    if (unauthorized && url != nullptr) {
        readChallenge(watch, sent, who, url, func, next);
    }
    return next;
}

// The request as it was sent (its header when it had one), with a new
// token created at our time plus offset when secured; false when the
// context cannot hold it.
bool restoreRequest(struct soap *soap, const SOAP_ENV__Header *header, bool secured,
                    const Credentials &who, long long offset)
{
    if (header != nullptr) {
        soap->header = static_cast<SOAP_ENV__Header *>(soap_malloc(soap, sizeof *header));
        if (soap->header == nullptr) {
            return false;
        }
        *soap->header = *header;
        // The second request is a message of its own.
        if (header->wsa5__MessageID != nullptr &&
            (soap->header->wsa5__MessageID = newMessageId(soap)) == nullptr) {
            return false;
        }
    }
    return !secured ||
           addSecurityToken(soap, who.user, who.password,
                            std::time(nullptr) + static_cast<std::time_t>(offset)) == VEK_ONVIF_OK;
}

} // namespace

int Exchange::callAuthenticated(StubCall invoke, void *stub, const char *url, const char *func)
{
    clockOffset_ = 0;
    AnswerWatch watch(soap_);
    const Credentials who{user_ != nullptr ? user_ : "", password_ != nullptr ? password_ : ""};
    HostMemory host(url);
    // What the camera host is known to need goes with the first request.
    long long sentOffset = secured_ ? host.state().clockOffset.value_or(0) : 0;
    if (sentOffset != 0 && !restoreRequest(soap_, nullptr, true, who, sentOffset)) {
        return SOAP_EOM;
    }
    watch.setAuthorization(answerKept(host.state(), who, url));
    // The answer to a refused request replaces the context's header: keep
    // the request's own for a second run.
    SOAP_ENV__Header sent{};
    bool hadHeader = soap_->header != nullptr;
    if (hadHeader) {
        sent = *soap_->header;
    }
    int code = invoke(soap_, stub);
    watch.forgetAuthorization();
    if (watch.hasDate()) {
        answerClock_ = watch.offset();
    }
    bool unauthorized = code != SOAP_OK && httpUnauthorized(soap_);
    if (code == SOAP_OK || (!unauthorized && !faultNotAuthorized(soap_))) {
        return code;
    }
    if (watch.hasDate()) {
        clockOffset_ = watch.offset();
    }
    SecondRequest next = readRefusal(watch, host.state(), sentOffset, unauthorized, who, url, func);
    host.keep(next.learnt);
    if (!next.newAnswer && !(next.clockChanged && secured_)) {
        return code;
    }
    if (!unauthorized && host.state().challenge) {
        // The camera took the kept answer but not the token: answer once more.
        host.take();
        next.authorization = answerKept(host.state(), who, url);
    }
    if (!restoreRequest(soap_, hadHeader ? &sent : nullptr, secured_, who, next.offset)) {
        return code;
    }
    watch.reset();
    watch.setAuthorization(std::move(next.authorization));
    clearText(next.authorization);
    code = invoke(soap_, stub);
    watch.forgetAuthorization();
    if (watch.hasDate()) {
        answerClock_ = watch.offset();
    }
    if (code != SOAP_OK && next.newAnswer && httpUnauthorized(soap_)) {
        VEK_LOG(kLevelError, VEK_ONVIF_ERR_FAIL, func, "HTTP digest refused");
    }
    return code;
}

void Exchange::noteRefusal(const char *func) const
{
    if (httpUnauthorized(soap_) || faultNotAuthorized(soap_)) {
        VEK_LOG(kLevelError, VEK_ONVIF_ERR_FAIL, func,
                "The camera refused the request: NotAuthorized (error %d)", soap_->error);
    }
}

} // namespace vek
