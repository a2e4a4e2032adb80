// Every defence of the Notify listener in one place: who may connect, how
// long a request may take, how large it may be, and what answer the camera
// gets.
#ifndef VEK_LISTENER_DEFENCES_H
#define VEK_LISTENER_DEFENCES_H

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "runtime_start.h"
#include "stdsoap2.h"

namespace vek
{
// ---- The bounds ----------------------------------------------------------------------
// Largest Notify request the listener reads; real cameras send a few KiB.
constexpr uint64_t kNotifyMaxBytes = 1024 * 1024;
// The whole request, headers and body, arrives within this time counted
// from the accept; each write of the answer waits at most as long.
constexpr int kNotifyTimeoutSeconds = 1;
constexpr std::chrono::milliseconds kNotifyRequestTime{kNotifyTimeoutSeconds * 1000};
// Deepest XML nesting the listener accepts.
constexpr unsigned kNotifyMaxDepth = 256;

// What the camera is answered.
enum class NotifyAnswer {
    Accepted, // 202, empty body: the Notify was read
    NotNotify // a SOAP fault: the request was read but is no Notify
};

// Why a connection was given up before its request was read to the end.
enum class NotifyRefusal { None, Oversized, BadLength, TooSlow };

// A listener context for one call: lives on the stack, borrows the
// caller's listening socket and gives it back before tearing down. After
// the accept it enforces the bounds above on the connection and closes the
// connection exactly once, itself: the runtime never closes it, so that the
// answer goes to the connection while it is open and never to the
// process's standard output.
class ListenerContext
{
  public:
    explicit ListenerContext(int32_t listenFd);
    ~ListenerContext();
    ListenerContext(const ListenerContext &) = delete;
    ListenerContext &operator=(const ListenerContext &) = delete;

    struct soap *get() { return &soap_; }

    // Takes one waiting connection; false when none was waiting.
    bool accept();
    // Who may connect: when the event-service URL names the camera by a
    // numeric address, only a connection from that address is served. A
    // host name is not resolved here (no DNS lookup in the poll path): any
    // sender is then served. A refused connection is closed unread and
    // logged for func.
    bool admit(const char *url, const char *func);
    // The reason the request was cut short, if it was.
    NotifyRefusal refusal() const { return refusal_; }
    // Writes the answer (bounded by the send time-out) and closes.
    void answer(NotifyAnswer answer);
    // Closes the accepted connection, once; later calls do nothing.
    void closeConnection();

  private:
    static size_t boundedRecv(struct soap *soap, char *buf, size_t len);
    static int checkedHeader(struct soap *soap, const char *key, const char *value);
    static int keepOpen(struct soap *soap);
    static int closeOthers(struct soap *soap, SOAP_SOCKET fd);

    RuntimeStarted started_;
    struct soap soap_;
    int32_t listenFd_;
    SOAP_SOCKET connection_ = SOAP_INVALID_SOCKET;
    std::chrono::steady_clock::time_point deadline_{};
    size_t (*innerRecv_)(struct soap *, char *, size_t) = nullptr;
    int (*innerHeader_)(struct soap *, const char *, const char *) = nullptr;
    int (*innerCloseSocket_)(struct soap *, SOAP_SOCKET) = nullptr;
    uint64_t received_ = 0;
    NotifyRefusal refusal_ = NotifyRefusal::None;
};

// Judges a Content-Length value before the runtime sizes anything from it:
// None for a decimal number of bytes up to the bound, Oversized for a
// larger number, BadLength for anything else (negative, empty, not a
// number).
NotifyRefusal checkContentLength(const char *value);

} // namespace vek

#endif // VEK_LISTENER_DEFENCES_H
