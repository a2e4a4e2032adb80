// The second request of an exchange the camera refused as not authorized:
// what the refusal told (the camera's time in the HTTP Date header, an HTTP
// Digest challenge) is read from the answer's header lines while the stub
// runs; a request sent once more carries a new WS-Security token whose
// Created follows the camera's clock, and the Authorization header that
// answers the challenge. A wrong password costs the camera at most two
// requests.
#include <openssl/crypto.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "exchange.h"
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

// Whether a fault code (or one of its subcodes) names NotAuthorized, in any
// prefix (the error namespace is not among the context's own).
bool namesNotAuthorized(const char *value)
{
    if (value == nullptr) {
        return false;
    }
    std::string_view text(value);
    constexpr std::string_view kName = "NotAuthorized";
    if (text.size() < kName.size() || text.substr(text.size() - kName.size()) != kName) {
        return false;
    }
    return text.size() == kName.size() || text[text.size() - kName.size() - 1] == ':';
}

bool faultNotAuthorized(const struct soap *soap)
{
    const SOAP_ENV__Fault *fault = soap->fault;
    if (fault == nullptr) {
        return false;
    }
    if (namesNotAuthorized(fault->faultcode)) {
        return true;
    }
    int depth = 0;
    for (const SOAP_ENV__Code *code = fault->SOAP_ENV__Code; code != nullptr && depth < 8;
         code = code->SOAP_ENV__Subcode, ++depth) {
        if (namesNotAuthorized(code->SOAP_ENV__Value)) {
            return true;
        }
    }
    return false;
}

bool httpUnauthorized(const struct soap *soap)
{
    return soap->error == 401;
}

// The Authorization value for the strongest Digest challenge that can be
// met; empty (and the reason logged) when none can.
std::string answerChallenges(const std::vector<std::string> &challenges, const char *user,
                             const char *password, const char *url, const char *func)
{
    std::string unsupported;
    bool unusable = false;
    bool seen = false;
    for (const DigestChallenge &challenge : strongestFirst(challenges)) {
        seen = true;
        std::string authorization;
        DigestOutcome outcome =
            answerDigestChallenge(challenge, user, password, "POST", requestTarget(url),
                                  makeClientNonce(), authorization);
        if (outcome == DigestOutcome::Ready) {
            return authorization;
        }
        if (outcome == DigestOutcome::UnsupportedAlgorithm && unsupported.empty()) {
            unsupported = challenge.algorithm.substr(0, kAlgorithmLogLength);
        } else if (outcome == DigestOutcome::Unusable) {
            unusable = true;
        }
    }
    if (!seen) {
        return {};
    }
    if (!unsupported.empty() && !unusable) {
        for (char &c : unsupported) {
            if (c < 0x20 || c > 0x7e) {
                c = '?';
            }
        }
        VEK_LOG(kLevelError, VEK_ONVIF_ERR_FAIL, func, "unsupported digest algorithm %s",
                unsupported.c_str());
    } else {
        VEK_LOG(kLevelError, VEK_ONVIF_ERR_FAIL, func, "HTTP digest refused");
    }
    return {};
}

} // namespace

int Exchange::callAuthenticated(StubCall invoke, void *stub, const char *url, const char *func)
{
    clockOffset_ = 0;
    AnswerWatch watch(soap_);
    // The answer to a refused request replaces the context's header: keep
    // the request's own for a second run.
    SOAP_ENV__Header sent{};
    bool hadHeader = soap_->header != nullptr;
    if (hadHeader) {
        sent = *soap_->header;
    }
    int code = invoke(soap_, stub);
    if (code == SOAP_OK) {
        return code;
    }
    bool unauthorized = httpUnauthorized(soap_);
    if (!unauthorized && !faultNotAuthorized(soap_)) {
        return code;
    }
    if (watch.hasDate()) {
        clockOffset_ = watch.offset();
    }
    bool skewed = std::llabs(clockOffset_) > kClockTolerance;
    std::string authorization;
    if (unauthorized && url != nullptr) {
        authorization = answerChallenges(watch.challenges(), user_ != nullptr ? user_ : "",
                                         password_ != nullptr ? password_ : "", url, func);
    }
    bool digest = !authorization.empty();
    if (!digest && !(skewed && secured_)) {
        return code;
    }
    if (hadHeader) {
        soap_->header = static_cast<SOAP_ENV__Header *>(soap_malloc(soap_, sizeof sent));
        if (soap_->header == nullptr) {
            return code;
        }
        *soap_->header = sent;
    }
    if (secured_ &&
        addSecurityToken(soap_, user_, password_,
                         std::time(nullptr) +
                             static_cast<std::time_t>(skewed ? clockOffset_ : 0)) != VEK_ONVIF_OK) {
        return code;
    }
    watch.reset();
    watch.setAuthorization(std::move(authorization));
    if (!authorization.empty()) {
        OPENSSL_cleanse(&authorization[0], authorization.size());
    }
    code = invoke(soap_, stub);
    watch.forgetAuthorization();
    if (code != SOAP_OK && digest && httpUnauthorized(soap_)) {
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
