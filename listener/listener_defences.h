// Every defence of the Notify listener in one place: who may connect, how
// long a request may take, how large it may be, and what answer the camera
// gets.
#ifndef VEK_LISTENER_DEFENCES_H
#define VEK_LISTENER_DEFENCES_H

#include <arpa/inet.h>
#include <sys/socket.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

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

// The faults a request is answered with.
enum class NotifyFault {
    NotNotify,  // 400: the request was read but is no Notify
    UnknownPath // 404: no camera of this listener delivers at that path
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

// The answers, complete with their HTTP head; keepOpen leaves out
// "Connection: close".
std::string acceptedAnswer(bool keepOpen);
std::string faultAnswer(NotifyFault fault, bool keepOpen);

// An address as 16 bytes, IPv4 in its IPv6-mapped form, so that a camera
// named by IPv4 matches a peer seen on a dual-stack socket.
struct Address {
    unsigned char bytes[16] = {};
    bool operator==(const Address &other) const;
};
// The host of "scheme://user@host:port/path", without brackets or zone.
std::string urlHost(const char *url);
// The host as an address; false for a host name. IPv4 is read as the
// resolver reads it (inet_aton: "2130706433", "127.1", "0x7f.0.0.1",
// "127.000.000.001"), and with the root's trailing dot, so that every
// spelling the runtime would connect to is checked.
bool numericAddress(const std::string &host, Address &out);
// The peer's address and its text; false for another family.
bool peerAddress(const sockaddr_storage &peer, Address &out, char (&text)[INET6_ADDRSTRLEN]);

} // namespace vek

#endif // VEK_LISTENER_DEFENCES_H
