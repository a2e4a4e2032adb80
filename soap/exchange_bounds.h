// The bounds of one client exchange: a deadline for the whole of it
// (connect, send and the complete answer, the second attempt after a
// refusal included) and a bound on the bytes of the answer. The runtime's
// own time-outs count per read, so a camera that trickles its answer, or
// sends without end, would hold the calling thread for as long as it likes.
#ifndef VEK_EXCHANGE_BOUNDS_H
#define VEK_EXCHANGE_BOUNDS_H

#include <chrono>
#include <cstddef>

#include "stdsoap2.h"

namespace vek
{

// Ten seconds for an exchange; a pull adds its own wait.
constexpr std::chrono::seconds kExchangeDeadline{10};
// The largest answer: a topic set may be long, any other answer is short.
constexpr size_t kMaxAnswerBytes = 1024 * 1024;
constexpr size_t kMaxEventPropertiesBytes = 8 * 1024 * 1024;

struct ExchangeLimits {
    std::chrono::seconds deadline = kExchangeDeadline;
    size_t maxAnswerBytes = kMaxAnswerBytes;
};

// While it lives, every connect, send and read of soap ends by the
// deadline and reading stops past the bound. One exchange at a time on a
// thread.
class ExchangeBounds
{
  public:
    ExchangeBounds(struct soap *soap, const ExchangeLimits &limits);
    ~ExchangeBounds();
    ExchangeBounds(const ExchangeBounds &) = delete;
    ExchangeBounds &operator=(const ExchangeBounds &) = delete;

    // Before each attempt: the connect time-out cut to what remains; false
    // (and the context's error set) when nothing remains.
    bool beforeAttempt();
    bool deadlinePassed() const { return deadlinePassed_; }
    bool answerTooLarge() const { return answerTooLarge_; }
    // A read that waited the runtime's whole time-out for a byte.
    bool readTimedOut() const { return readTimedOut_; }
    // The host name of the target could not be resolved.
    bool resolveFailed() const { return resolveFailed_; }
    const ExchangeLimits &limits() const { return limits_; }

  private:
    using Clock = std::chrono::steady_clock;
    static size_t boundedRecv(struct soap *soap, char *buf, size_t len);
    static int boundedSend(struct soap *soap, const char *buf, size_t len);
    static int watchedResolve(struct soap *soap, const char *host, struct in_addr *address);
    // The runtime's time-out for at most the time left (its own setting
    // when that is shorter); 0 when the deadline has passed.
    int timeoutWithin(int configured);

    struct soap *soap_;
    ExchangeLimits limits_;
    Clock::time_point deadline_;
    size_t received_ = 0;
    bool deadlinePassed_ = false;
    bool answerTooLarge_ = false;
    bool readTimedOut_ = false;
    bool resolveFailed_ = false;
    int savedConnect_;
    size_t (*innerRecv_)(struct soap *, char *, size_t);
    int (*innerSend_)(struct soap *, const char *, size_t);
    int (*innerResolve_)(struct soap *, const char *, struct in_addr *);
    ExchangeBounds *outer_;
    static thread_local ExchangeBounds *active_;
};

} // namespace vek

#endif // VEK_EXCHANGE_BOUNDS_H
