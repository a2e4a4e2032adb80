#include "exchange_bounds.h"

#include <algorithm>
#include <climits>

namespace vek
{

thread_local ExchangeBounds *ExchangeBounds::active_ = nullptr;

ExchangeBounds::ExchangeBounds(struct soap *soap, const ExchangeLimits &limits)
    : soap_(soap), limits_(limits), deadline_(Clock::now() + limits.deadline),
      savedConnect_(soap->connect_timeout), innerRecv_(soap->frecv), innerSend_(soap->fsend),
      innerResolve_(soap->fresolve), outer_(active_)
{
    // The runtime's callbacks carry only the context, and soap->user may
    // belong to another hook: the bounds of this thread's exchange are
    // found through active_.
    active_ = this;
    soap_->frecv = &ExchangeBounds::boundedRecv;
    soap_->fsend = &ExchangeBounds::boundedSend;
    if (innerResolve_ != nullptr) {
        soap_->fresolve = &ExchangeBounds::watchedResolve;
    }
}

ExchangeBounds::~ExchangeBounds()
{
    soap_->frecv = innerRecv_;
    soap_->fsend = innerSend_;
    soap_->fresolve = innerResolve_;
    soap_->connect_timeout = savedConnect_;
    active_ = outer_;
}

int ExchangeBounds::timeoutWithin(int configured)
{
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline_ - Clock::now());
    if (left.count() <= 0) {
        deadlinePassed_ = true;
        return 0;
    }
    // Positive values count seconds, negative ones microseconds (up to
    // INT_MAX of them).
    long long configuredMicros = configured > 0 ? configured * 1000000LL : -1LL * configured;
    long long micros =
        configured != 0 ? std::min<long long>(left.count(), configuredMicros) : left.count();
    if (micros < INT_MAX) {
        return -static_cast<int>(std::max<long long>(micros, 1));
    }
    return static_cast<int>((micros + 999999) / 1000000);
}

bool ExchangeBounds::beforeAttempt()
{
    int timeout = timeoutWithin(savedConnect_);
    if (timeout == 0) {
        soap_->error = SOAP_TCP_ERROR;
        return false;
    }
    soap_->connect_timeout = timeout;
    return true;
}

size_t ExchangeBounds::boundedRecv(struct soap *soap, char *buf, size_t len)
{
    ExchangeBounds *self = active_;
    if (self->received_ >= self->limits_.maxAnswerBytes) {
        self->answerTooLarge_ = true;
        return 0;
    }
    int saved = soap->recv_timeout;
    int timeout = self->timeoutWithin(saved);
    if (timeout == 0) {
        return 0;
    }
    soap->recv_timeout = timeout;
    Clock::time_point start = Clock::now();
    size_t n = self->innerRecv_(soap, buf,
                                std::min(len, self->limits_.maxAnswerBytes - self->received_ + 1));
    soap->recv_timeout = saved;
    self->received_ += n;
    if (n == 0) {
        Clock::time_point end = Clock::now();
        if (end >= self->deadline_) {
            self->deadlinePassed_ = true;
        }
        // A closed connection ends the read at once; a silent one only
        // after the whole time-out (less a little for the clock's grain).
        auto waited = std::chrono::duration_cast<std::chrono::microseconds>(end - start);
        long long allowed = timeout > 0 ? timeout * 1000000LL : -1LL * timeout;
        self->readTimedOut_ = waited.count() + 20000 >= allowed;
    }
    if (self->received_ > self->limits_.maxAnswerBytes) {
        self->answerTooLarge_ = true;
        return 0;
    }
    return n;
}

int ExchangeBounds::watchedResolve(struct soap *soap, const char *host, struct in_addr *address)
{
    ExchangeBounds *self = active_;
    int code = self->innerResolve_(soap, host, address);
    self->resolveFailed_ = code != SOAP_OK;
    return code;
}

int ExchangeBounds::boundedSend(struct soap *soap, const char *buf, size_t len)
{
    ExchangeBounds *self = active_;
    int saved = soap->send_timeout;
    int timeout = self->timeoutWithin(saved);
    if (timeout == 0) {
        return SOAP_EOF;
    }
    soap->send_timeout = timeout;
    int code = self->innerSend_(soap, buf, len);
    soap->send_timeout = saved;
    if (code != SOAP_OK && Clock::now() >= self->deadline_) {
        self->deadlinePassed_ = true;
    }
    return code;
}

} // namespace vek
