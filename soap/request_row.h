// The description of one request operation that the frame (vek::Exchange)
// runs: what it asks, how it is secured, which reference parameters go
// back, how each failure is logged and which code it returns. Every
// operation keeps its rows as constexpr data beside its code; the texts are
// fixed: recorders and tests search for them.
#ifndef VEK_REQUEST_ROW_H
#define VEK_REQUEST_ROW_H

#include <cstdint>

#include "action.h"
#include "request_headers.h"

namespace vek
{

// How the reference parameters of the request's target go back to the
// camera.
enum class ReferenceKind {
    None,
    StoredBlock,  // one header block, exactly as stored (a push subscription's)
    MarkedBlocks, // each element its own block, marked as a reference parameter
};

// How an operation words the line about a failed call.
struct CallFailureLog {
    enum class Form {
        RuntimeWithError, // through the runtime's fault printer: format takes (long error, url)
        RuntimeUrlOnly,   // through the runtime's fault printer: format takes (url)
        Plain,            // one line at the error level with code 112: format takes (url)
    };
    const char *format;
    Form form;
};

// The code a failed call returns; whenGone, when not 0, replaces it when the
// camera says the pull point is gone.
struct FailureCodes {
    uint32_t code;
    uint32_t whenGone;
};

struct RequestRow {
    const char *func; // the operation's name in its log lines
    Action action;
    Security security;
    ReferenceKind references;
    HeaderFailureLog headerFailure;
    // Logged with 104 when the reference parameters cannot be added; null
    // returns 104 silently.
    const char *referenceFailure;
    CallFailureLog callFailure;
    FailureCodes onFailure;
};

// Where a request goes and as whom. reference (null: none) is sent back as
// the row's ReferenceKind says.
struct RequestTarget {
    const char *url;
    const char *user;
    const char *password;
    const char *reference = nullptr;
};

} // namespace vek

#endif // VEK_REQUEST_ROW_H
