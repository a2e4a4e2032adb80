// The defences of the Notify listener: the sender check, the time and size
// bounds of one request, the check of its declared length, and the answer.
#include "listener_defences.h"

#include "context_registry.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "vek_log.h"
#include "vek_onvif_event_soap.h"
#include "vek_soap_context.h"

namespace vek
{
namespace
{

using Clock = std::chrono::steady_clock;

// A SOAP 1.2 Sender fault with the reason given.
std::string faultBody(const char *reason)
{
    return std::string(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://www.w3.org/2003/05/soap-envelope\">"
               "<SOAP-ENV:Body><SOAP-ENV:Fault><SOAP-ENV:Code><SOAP-ENV:Value>SOAP-ENV:Sender"
               "</SOAP-ENV:Value></SOAP-ENV:Code><SOAP-ENV:Reason><SOAP-ENV:Text "
               "xml:lang=\"en\">") +
           reason +
           "</SOAP-ENV:Text></SOAP-ENV:Reason></SOAP-ENV:Fault></SOAP-ENV:Body>"
           "</SOAP-ENV:Envelope>\n";
}

const char *connectionHeader(bool keepOpen)
{
    return keepOpen ? "" : "Connection: close\r\n";
}

// Writes all of text within the send time-out; gives up silently when the
// camera does not take it.
void sendWithin(int fd, const std::string &text)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(kNotifyTimeoutSeconds);
    size_t sent = 0;
    while (sent < text.size()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd writable{fd, POLLOUT, 0};
        if (left.count() <= 0 || poll(&writable, 1, static_cast<int>(left.count())) != 1) {
            return;
        }
        ssize_t n = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        sent += static_cast<size_t>(n);
    }
}

} // namespace

std::string urlHost(const char *url)
{
    std::string text(url);
    size_t start = text.find("://");
    start = start == std::string::npos ? 0 : start + 3;
    size_t end = text.find_first_of("/?#", start);
    std::string authority = text.substr(start, end == std::string::npos ? end : end - start);
    size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        authority.erase(0, at + 1);
    }
    if (!authority.empty() && authority[0] == '[') {
        size_t close = authority.find_first_of("]%");
        return authority.substr(1, close == std::string::npos ? close : close - 1);
    }
    return authority.substr(0, authority.find(':'));
}

// IPv4 is read as the resolver reads it, and with the root's trailing dot.
bool numericAddress(const std::string &host, Address &out)
{
    std::string v4Text = host;
    if (!v4Text.empty() && v4Text.back() == '.') {
        v4Text.pop_back();
    }
    in_addr v4{};
    if (!v4Text.empty() &&
        v4Text.find_first_not_of("0123456789abcdefABCDEFxX.") == std::string::npos &&
        inet_aton(v4Text.c_str(), &v4) != 0) {
        out.bytes[10] = 0xff;
        out.bytes[11] = 0xff;
        std::memcpy(out.bytes + 12, &v4, 4);
        return true;
    }
    return inet_pton(AF_INET6, host.c_str(), out.bytes) == 1;
}

bool peerAddress(const sockaddr_storage &peer, Address &out, char (&text)[INET6_ADDRSTRLEN])
{
    if (peer.ss_family == AF_INET) {
        const auto &v4 = reinterpret_cast<const sockaddr_in &>(peer);
        out.bytes[10] = 0xff;
        out.bytes[11] = 0xff;
        std::memcpy(out.bytes + 12, &v4.sin_addr, 4);
        return inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text) != nullptr;
    }
    if (peer.ss_family == AF_INET6) {
        const auto &v6 = reinterpret_cast<const sockaddr_in6 &>(peer);
        std::memcpy(out.bytes, &v6.sin6_addr, 16);
        return inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text) != nullptr;
    }
    return false;
}

bool Address::operator==(const Address &other) const
{
    return std::memcmp(bytes, other.bytes, sizeof bytes) == 0;
}

NotifyRefusal checkContentLength(const char *value)
{
    const char *p = value;
    while (*p == ' ' || *p == '\t') {
        ++p;
    }
    if (*p < '0' || *p > '9') {
        return NotifyRefusal::BadLength;
    }
    uint64_t length = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        length = length * 10 + static_cast<uint64_t>(*p - '0');
        if (length > kNotifyMaxBytes) {
            // Further digits only make it larger; the rest must still be
            // digits for it to be a size at all.
            while (*p >= '0' && *p <= '9') {
                ++p;
            }
            break;
        }
    }
    while (*p == ' ' || *p == '\t') {
        ++p;
    }
    if (*p != '\0') {
        return NotifyRefusal::BadLength;
    }
    return length > kNotifyMaxBytes ? NotifyRefusal::Oversized : NotifyRefusal::None;
}

std::string acceptedAnswer(bool keepOpen)
{
    return std::string("HTTP/1.1 202 Accepted\r\nContent-Length: 0\r\n") +
           connectionHeader(keepOpen) + "\r\n";
}

std::string faultAnswer(NotifyFault fault, bool keepOpen)
{
    const bool unknown = fault == NotifyFault::UnknownPath;
    std::string body =
        faultBody(unknown ? "No subscription at this address" : "Not a Notify request");
    return std::string(unknown ? "HTTP/1.1 404 Not Found" : "HTTP/1.1 400 Bad Request") +
           "\r\nContent-Type: application/soap+xml; charset=utf-8\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n" + connectionHeader(keepOpen) + "\r\n" + body;
}

// The runtime's constructor of soap_ has initialised the context already;
// a second soap_init would only clear it again.
ListenerContext::ListenerContext(int32_t listenFd) : listenFd_(listenFd)
{
    applyEventSettings(&soap_, kNotifyTimeoutSeconds);
    // A negative time-out counts microseconds: accept only what already
    // waits.
    soap_.accept_timeout = -1;
    soap_.master = listenFd;
    soap_.maxlevel = kNotifyMaxDepth;
    // Nothing of this context may go to the process's standard output.
    soap_.sendfd = -1;
    innerRecv_ = soap_.frecv;
    soap_.frecv = &ListenerContext::boundedRecv;
    innerHeader_ = soap_.fparsehdr;
    soap_.fparsehdr = &ListenerContext::checkedHeader;
    soap_.fclose = &ListenerContext::keepOpen;
    innerCloseSocket_ = soap_.fclosesocket;
    soap_.fclosesocket = &ListenerContext::closeOthers;
    soap_.user = this;
    // The platform's log asks the library about this context's failures.
    registerContext(&soap_);
}

ListenerContext::~ListenerContext()
{
    closeConnection();
    if (soap_.master == listenFd_) {
        soap_.master = SOAP_INVALID_SOCKET;
    }
    unregisterContext(&soap_);
    soap_delete(&soap_, nullptr);
    soap_end(&soap_);
    soap_done(&soap_);
}

bool ListenerContext::accept()
{
    if (!soap_valid_socket(soap_accept(&soap_))) {
        return false;
    }
    connection_ = soap_.socket;
    deadline_ = Clock::now() + kNotifyRequestTime;
    return true;
}

bool ListenerContext::admit(const char *url, const char *func)
{
    const std::string camera = urlHost(url);
    Address expected;
    if (!numericAddress(camera, expected)) {
        return true; // a host name: not resolved here, any sender is served
    }
    Address actual;
    char peerText[INET6_ADDRSTRLEN] = "?";
    if (peerAddress(soap_.peer.storage, actual, peerText) && expected == actual) {
        return true;
    }
    closeConnection();
    VEK_LOG(kLevelError, VEK_ONVIF_ERR_FAIL, func, "Notify refused: from %s, the camera is %s",
            peerText, camera.c_str());
    return false;
}

void ListenerContext::answer(NotifyAnswer answer)
{
    if (connection_ != SOAP_INVALID_SOCKET) {
        sendWithin(connection_, answer == NotifyAnswer::Accepted
                                    ? acceptedAnswer(false)
                                    : faultAnswer(NotifyFault::NotNotify, false));
    }
    closeConnection();
}

void ListenerContext::closeConnection()
{
    if (connection_ != SOAP_INVALID_SOCKET) {
        __wrap_close(static_cast<int>(connection_));
        connection_ = SOAP_INVALID_SOCKET;
    }
    soap_.socket = SOAP_INVALID_SOCKET;
}

// Every read of the request: within the time left until the deadline and
// within the size bound.
size_t ListenerContext::boundedRecv(struct soap *soap, char *buf, size_t len)
{
    auto *self = static_cast<ListenerContext *>(soap->user);
    auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(self->deadline_ - Clock::now());
    if (left.count() <= 0) {
        self->refusal_ = NotifyRefusal::TooSlow;
        return 0; // seen by the runtime as the end of input
    }
    uint64_t room = kNotifyMaxBytes - self->received_;
    if (room == 0) {
        self->refusal_ = NotifyRefusal::Oversized;
        return 0;
    }
    soap->recv_timeout = -static_cast<int>(left.count());
    size_t n = self->innerRecv_(soap, buf, len < room ? len : static_cast<size_t>(room));
    self->received_ += n;
    if (n == 0 && Clock::now() >= self->deadline_) {
        self->refusal_ = NotifyRefusal::TooSlow;
    }
    return n;
}

// Every HTTP header line: a declared length is judged before the runtime
// sizes anything from it.
int ListenerContext::checkedHeader(struct soap *soap, const char *key, const char *value)
{
    auto *self = static_cast<ListenerContext *>(soap->user);
    // Compared as the runtime compares it: "-" there matches any character.
    if (key != nullptr && value != nullptr && soap_tag_cmp(key, "Content-Length") == 0) {
        NotifyRefusal verdict = checkContentLength(value);
        if (verdict != NotifyRefusal::None) {
            self->refusal_ = verdict;
            return SOAP_LENGTH;
        }
    }
    return self->innerHeader_(soap, key, value);
}

// The runtime's way to end a connection: left to the context, which
// answers first.
int ListenerContext::keepOpen(struct soap *)
{
    return SOAP_OK;
}

int ListenerContext::closeOthers(struct soap *soap, SOAP_SOCKET fd)
{
    auto *self = static_cast<ListenerContext *>(soap->user);
    if (fd == self->connection_) {
        return SOAP_OK;
    }
    return self->innerCloseSocket_(soap, fd);
}

} // namespace vek
