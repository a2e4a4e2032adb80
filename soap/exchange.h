// The frame of every request the library sends: a context (owned or
// borrowed), its settings, the security and addressing headers, the
// reference-parameter header blocks, the call of one stub with its one
// retry, one failure log, the result code and the teardown, all as the
// request's row says. An operation supplies only its row, its request and
// the reading of its answer.
#ifndef VEK_EXCHANGE_H
#define VEK_EXCHANGE_H

#include <cstdint>
#include <memory>
#include <optional>
#include <type_traits>

#include "exchange_bounds.h"
#include "request_row.h"
#include "stdsoap2.h"

namespace vek
{

class Exchange
{
  public:
    // Creates and owns an event context; ok() is false when it could not be
    // created. The teardown destroys it.
    Exchange();
    // Borrows the caller's context; the teardown only cleans it.
    explicit Exchange(struct soap *borrowed);
    ~Exchange();
    Exchange(const Exchange &) = delete;
    Exchange &operator=(const Exchange &) = delete;

    bool ok() const { return soap_ != nullptr; }
    struct soap *soap() const { return soap_; }

    // Sends the request the stub makes to target as row says: prepare, then
    // run. An operation that writes records of its request into the context
    // calls the two itself and writes them in between, after the headers.
    template <typename Stub>
    uint32_t send(const RequestRow &row, const RequestTarget &target, Stub &&stub)
    {
        uint32_t code = prepare(row, target);
        return code != 0 ? code : run(row, target.url, stub);
    }

    // The WS-Security token (as the row's security says), the WS-Addressing
    // header of its action and target's reference parameters (as the row's
    // ReferenceKind says); 0 or the code of the failed step, logged as the
    // row says.
    uint32_t prepare(const RequestRow &row, const RequestTarget &target);

    // Calls the stub (a callable taking the context); 0, or the row's code
    // for a failed call, logged as the row says. A camera that refuses the
    // request as not authorized is asked once more when its answer shows
    // how to do better: with Created on the camera's clock when that clock
    // differs from ours, with an answer to its HTTP Digest challenge, or
    // both. The stub therefore runs at most twice; the request records it
    // fills live in the caller's frame and survive the first run.
    // The whole of it, the second request included, ends by the deadline
    // of the limits, and reads no more of an answer than they allow.
    template <typename Stub> uint32_t run(const RequestRow &row, const char *url, Stub &&stub)
    {
        using Target = std::remove_reference_t<Stub>;
        struct Attempt {
            Target *stub;
            ExchangeBounds *bounds;
            uint32_t sent;
        };
        auto invoke = [](struct soap *soap, void *target) {
            auto *attempt = static_cast<Attempt *>(target);
            if (!attempt->bounds->beforeAttempt()) {
                return soap->error;
            }
            ++attempt->sent;
            return (*attempt->stub)(soap);
        };
        ExchangeBounds bounds(soap_, limits_);
        Attempt attempt{std::addressof(stub), &bounds, 0};
        startRecord();
        int code = callAuthenticated(invoke, &attempt, url, row.func);
        endRecord(attempt.sent, code, bounds);
        return code == SOAP_OK ? 0 : failed(row, url, bounds);
    }

    // The deadline and the answer bound of the calls that follow (by
    // default ten seconds and 1 MiB).
    void setLimits(const ExchangeLimits &limits) { limits_ = limits; }

    // The camera's clock minus ours, in seconds, as the Date of a refusal
    // in the last call told it (0 when the camera did not refuse, or told
    // no time).
    long long clockOffset() const { return clockOffset_; }

  private:
    using StubCall = int (*)(struct soap *, void *);
    // The calling thread's error record: started for this exchange, and
    // told what the exchange gave (the requests sent, the camera's clock
    // and, when code is not SOAP_OK, why it failed).
    void startRecord();
    void endRecord(uint32_t sent, int code, const ExchangeBounds &bounds);
    // func names the operation in the line that tells why a digest
    // challenge was not met.
    int callAuthenticated(StubCall invoke, void *stub, const char *url, const char *func);
    // Logs the failed call as the row says; the row's code for it, or 100
    // when a bound of the exchange ended it (and one line naming which).
    uint32_t failed(const RequestRow &row, const char *url, const ExchangeBounds &bounds) const;
    void logFailure(const RequestRow &row, const char *url) const;
    // One line when the camera refused the request as not authorized, so that a caller can
    // tell refused credentials from other failures without asking the camera again.
    void noteRefusal(const char *func) const;
    // Sends reference back as one header block of its own, exactly as
    // stored. False when the context cannot hold the record.
    bool addReferenceParameter(const char *reference);
    // Sends every element of references (a sequence of whole elements) as a
    // header block of its own, each marked wsa5:IsReferenceParameter="true".
    // False when the text holds no such sequence or the context cannot hold
    // the records.
    bool addReferenceParameters(const char *references);

    // Remembered by prepare for a second request; the caller's texts,
    // which outlive the call, not copies.
    const char *user_ = nullptr;
    const char *password_ = nullptr;
    bool secured_ = false;
    long long clockOffset_ = 0;
    // The camera's clock minus ours as the Date of its last answer told it.
    std::optional<long long> answerClock_;
    ExchangeLimits limits_;

    struct soap *soap_ = nullptr;
    bool owned_ = false;
};

} // namespace vek

#endif // VEK_EXCHANGE_H
