// The frame of every request the library sends: a context (owned or
// borrowed), its settings, the security and addressing headers, the
// reference-parameter header blocks, the call of one stub, one failure log
// and the teardown. An operation supplies only its request and response.
#ifndef VEK_EXCHANGE_H
#define VEK_EXCHANGE_H

#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>

#include "request_headers.h"
#include "stdsoap2.h"

namespace vek
{

// How an operation words the line about a failed call. The texts are fixed:
// recorders and tests search for them.
struct CallFailureLog {
    enum class Form {
        RuntimeWithError, // through the runtime's fault printer: format takes (long error, url)
        RuntimeUrlOnly,   // through the runtime's fault printer: format takes (url)
        Plain,            // one line at the error level with code 112: format takes (url)
    };
    const char *func;
    const char *format;
    Form form;
};

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

    // A zeroed record in the context, or null.
    template <typename T> T *newRecord() const
    {
        void *block = soap_malloc(soap_, sizeof(T));
        if (block != nullptr) {
            std::memset(block, 0, sizeof(T));
        }
        return static_cast<T *>(block);
    }

    // The WS-Security token (as security says) and the WS-Addressing header
    // of action; 0 or the code of the failed step (logged as log says).
    uint32_t addHeaders(const char *user, const char *password, Security security, uint32_t action,
                        const char *url, const HeaderFailureLog &log);
    // Sends reference back as one header block of its own, exactly as
    // stored. False when the context cannot hold the record.
    bool addReferenceParameter(const char *reference);
    // Sends every element of references (a sequence of whole elements) as a
    // header block of its own, each marked wsa5:IsReferenceParameter="true".
    // False when the text holds no such sequence or the context cannot hold
    // the records.
    bool addReferenceParameters(const char *references);

    // Calls the stub (a callable taking the context) and logs a failure as
    // log says; returns the runtime's code. A camera that refuses the
    // request as not authorized is asked once more when its answer shows
    // how to do better: with Created on the camera's clock when that clock
    // differs from ours, with an answer to its HTTP Digest challenge, or
    // both. The stub therefore runs at most twice; the request records it
    // fills live in the caller's frame and survive the first run.
    template <typename Stub> int call(Stub &&stub, const CallFailureLog &log, const char *url)
    {
        using Target = std::remove_reference_t<Stub>;
        auto invoke = [](struct soap *soap, void *target) {
            return (*static_cast<Target *>(target))(soap);
        };
        int code = callAuthenticated(
            invoke, const_cast<void *>(static_cast<const void *>(std::addressof(stub))), url,
            log.func);
        if (code != SOAP_OK) {
            noteRefusal(log.func);
            logFailure(log, url);
        }
        return code;
    }

    // The camera's clock minus ours, in seconds, as the Date of a refusal
    // in the last call told it (0 when the camera did not refuse, or told
    // no time).
    long long clockOffset() const { return clockOffset_; }

  private:
    using StubCall = int (*)(struct soap *, void *);
    // func names the operation in the line that tells why a digest
    // challenge was not met.
    int callAuthenticated(StubCall invoke, void *stub, const char *url, const char *func);
    void logFailure(const CallFailureLog &log, const char *url) const;
    // One line when the camera refused the request as not authorized, so that a caller can
    // tell refused credentials from other failures without asking the camera again.
    void noteRefusal(const char *func) const;

    // Remembered by addHeaders for a second request; the caller's texts,
    // which outlive the call, not copies.
    const char *user_ = nullptr;
    const char *password_ = nullptr;
    bool secured_ = false;
    long long clockOffset_ = 0;

    struct soap *soap_ = nullptr;
    bool owned_ = false;
};

} // namespace vek

#endif // VEK_EXCHANGE_H
