// The hub's event loop and connection table.
#include "hub_loop.h"

#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "vek_log.h"
#include "vek_subscription_internal.h"

namespace vek::hub
{
namespace
{

// Every camera of a hub may connect at once (after a network outage, or a
// burst of alarms): the queue is the system's largest (net.core.somaxconn
// caps it), so that a burst waits in it rather than being dropped into the
// senders' one-second SYN retries.
constexpr int kBacklog = SOMAXCONN;
constexpr int kEventsPerWait = 64;
// Read at most this much per connection and wait: one sender cannot hold
// the loop while others wait.
constexpr size_t kReadPerWait = 64 * 1024;
constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
// Out of descriptors with no idle connection to give up, the listening
// socket rests this long: it stays readable, and the poll would spin.
constexpr std::chrono::milliseconds kAcceptRest{100};

// Writes the whole text without waiting; false when the connection did not
// take all of it (a sender that reads no answers is not waited for).
bool sendNow(int fd, std::string_view text)
{
    size_t sent = 0;
    while (sent < text.size()) {
        ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool bindTo(int fd, int family, const char *ip, int port)
{
    sockaddr_storage address{};
    socklen_t length = 0;
    if (family == AF_INET6) {
        auto &v6 = reinterpret_cast<sockaddr_in6 &>(address);
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(static_cast<uint16_t>(port));
        v6.sin6_addr = in6addr_any;
        if (ip != nullptr && inet_pton(AF_INET6, ip, &v6.sin6_addr) != 1) {
            return false;
        }
        length = sizeof v6;
    } else {
        auto &v4 = reinterpret_cast<sockaddr_in &>(address);
        v4.sin_family = AF_INET;
        v4.sin_port = htons(static_cast<uint16_t>(port));
        v4.sin_addr.s_addr = htonl(INADDR_ANY);
        if (ip != nullptr && inet_pton(AF_INET, ip, &v4.sin_addr) != 1) {
            return false;
        }
        length = sizeof v4;
    }
    return ::bind(fd, reinterpret_cast<sockaddr *>(&address), length) == 0;
}

int familyOf(const char *ip)
{
    unsigned char bytes[16];
    if (ip == nullptr || inet_pton(AF_INET6, ip, bytes) == 1) {
        return AF_INET6;
    }
    return inet_pton(AF_INET, ip, bytes) == 1 ? AF_INET : AF_UNSPEC;
}

} // namespace

struct Loop::Connection {
    int fd = -1;
    Peer peer;
    std::string bytes;
    RequestFrame frame;
    // Reading a request (from the accept, or from the first byte on a
    // kept-alive connection); otherwise idle between requests.
    bool reading = true;
    bool servedOne = false;
    bool senderDone = false;
    bool continued = false;
    bool watched = false; // in the epoll set
    // Of the request while reading, of the idle time otherwise.
    Clock::time_point deadline;
};

class Loop::ConnectionReply : public RequestHandler::Reply
{
  public:
    explicit ConnectionReply(int fd) : fd_(fd) {}
    void send(const std::string &answer, bool keepOpen) override
    {
        keepOpen_ = sendNow(fd_, answer) && keepOpen;
    }
    bool keepOpen() const { return keepOpen_; }

  private:
    int fd_;
    bool keepOpen_ = false;
};

Loop::Loop() = default;

Loop::~Loop()
{
    while (!connections_.empty()) {
        close(connections_.begin()->first);
    }
    for (int fd : {listen_, timer_, epoll_}) {
        if (fd >= 0) {
            __wrap_close(fd);
        }
    }
}

bool Loop::open(const char *ip, uint16_t port)
{
    int family = familyOf(ip);
    if (family == AF_UNSPEC) {
        return false;
    }
    listen_ = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listen_ < 0 && ip == nullptr) {
        // A host without IPv6 listens on every IPv4 address.
        family = AF_INET;
        listen_ = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    }
    if (listen_ < 0) {
        return false;
    }
    int on = 1;
    int off = 0;
    // A port left in TIME_WAIT by an earlier run may be reused; a port
    // another socket listens on may not.
    (void)setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (family == AF_INET6 && ip == nullptr) {
        (void)setsockopt(listen_, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    }
    auto tryBind = [&](int candidate) { return bindTo(listen_, family, ip, candidate); };
    int bound = port != 0 ? (tryBind(port) ? port : 0) : firstFreePort(tryBind);
    if (bound == 0 || ::listen(listen_, kBacklog) != 0) {
        return false;
    }
    port_ = static_cast<uint16_t>(bound);
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    timer_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (epoll_ < 0 || timer_ < 0) {
        return false;
    }
    for (int fd : {listen_, timer_}) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0) {
            return false;
        }
    }
    return true;
}

bool Loop::step(Clock::time_point until, RequestHandler &handler)
{
    // The deadlines wake the wait through the timer.
    Clock::time_point now = Clock::now();
    long long waitMs = 0;
    if (until > now) {
        // Rounded up: waking before the time would only wait again.
        waitMs = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
    }
    epoll_event events[kEventsPerWait];
    int timeout = static_cast<int>(std::min<long long>(waitMs, INT_MAX));
    // A full batch may leave more ready: those are taken at once too, up
    // to the bound of the connection table.
    bool timerFired = false;
    for (size_t served = 0; served <= limits_.connections; timeout = 0) {
        int ready = epoll_wait(epoll_, events, kEventsPerWait, timeout);
        if (ready < 0) {
            return errno == EINTR;
        }
        for (int i = 0; i < ready; ++i) {
            int fd = events[i].data.fd;
            if (fd == listen_) {
                acceptWaiting(handler);
            } else if (fd == timer_) {
                timerFired = true;
            } else {
                auto found = connections_.find(fd);
                if (found != connections_.end()) {
                    receive(*found->second, handler);
                }
            }
        }
        if (ready < kEventsPerWait) {
            break;
        }
        served += static_cast<size_t>(ready);
    }
    now = Clock::now();
    if (timerFired || now >= armed_) {
        uint64_t expirations = 0;
        (void)::read(timer_, &expirations, sizeof expirations);
        armed_ = Clock::time_point::max();
        expire(now, handler);
        if (!listening_ && now >= listenAgain_) {
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.fd = listen_;
            listening_ = epoll_ctl(epoll_, EPOLL_CTL_ADD, listen_, &event) == 0;
            listenAgain_ = now + kAcceptRest; // tried again then if that failed
        }
        armTimer(listening_ ? nextDeadline() : std::min(nextDeadline(), listenAgain_));
    }
    return true;
}

void Loop::acceptWaiting(RequestHandler &handler)
{
    for (;;) {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        int fd = accept4(listen_, reinterpret_cast<sockaddr *>(&peer), &length,
                         SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                if (closeOldestIdle()) {
                    continue;
                }
                restListening();
            }
            return;
        }
        if (connections_.size() >= limits_.connections && !closeOldestIdle()) {
            // Every connection is busy with a request: the newcomer waits
            // for none of them.
            __wrap_close(fd);
            continue;
        }
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        (void)peerAddress(peer, connection->peer.address, connection->peer.text);
        setDeadline(*connection, Clock::now() + limits_.request);
        Connection &added = *connections_.emplace(fd, std::move(connection)).first->second;
        // A sender writes its request right after connecting: it is most
        // often here already, and read without another wait. A connection
        // served and closed then never enters the epoll set.
        receive(added, handler);
        if (connections_.find(fd) == connections_.end()) {
            continue;
        }
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0) {
            close(fd);
            continue;
        }
        added.watched = true;
    }
}

void Loop::restListening()
{
    (void)epoll_ctl(epoll_, EPOLL_CTL_DEL, listen_, nullptr);
    listening_ = false;
    listenAgain_ = Clock::now() + kAcceptRest;
    if (listenAgain_ < armed_) {
        armTimer(listenAgain_);
    }
}

void Loop::setDeadline(Connection &connection, Clock::time_point when)
{
    connection.deadline = when;
    // The timer is set again only for an earlier time; for a later one it
    // wakes early once and is set to the next deadline then.
    if (when < armed_) {
        armTimer(when);
    }
}

void Loop::receive(Connection &connection, RequestHandler &handler)
{
    char buffer[16 * 1024];
    size_t taken = 0;
    while (taken < kReadPerWait && connection.bytes.size() <= kNotifyMaxBytes) {
        ssize_t n = ::recv(connection.fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            if (!connection.reading) {
                connection.reading = true;
                setDeadline(connection, Clock::now() + limits_.request);
            }
            connection.bytes.append(buffer, static_cast<size_t>(n));
            taken += static_cast<size_t>(n);
            if (static_cast<size_t>(n) < sizeof buffer) {
                break; // nothing more waits now; the poll tells when it does
            }
            continue;
        }
        if (n == 0) {
            connection.senderDone = true;
            break;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            break;
        }
        close(connection.fd); // reset by the sender
        return;
    }
    (void)serveReceived(connection, handler);
}

bool Loop::serveReceived(Connection &connection, RequestHandler &handler)
{
    for (;;) {
        std::string &bytes = connection.bytes;
        if (!connection.frame.headComplete()) {
            // Line ends between requests are skipped, as HTTP allows.
            bytes.erase(0, std::min(bytes.size(), bytes.find_first_not_of("\r\n")));
            if (bytes.empty() && connection.servedOne) {
                if (connection.senderDone) {
                    close(connection.fd);
                    return false;
                }
                connection.reading = false;
                // An idle connection keeps no buffer.
                std::string().swap(bytes);
                setDeadline(connection, Clock::now() + limits_.idle);
                return true;
            }
        }
        Progress progress = connection.frame.judge(bytes, connection.senderDone);
        if (progress == Progress::Incomplete) {
            if (connection.frame.headComplete() && connection.frame.expectsContinue() &&
                !connection.continued) {
                connection.continued = true;
                (void)sendNow(connection.fd, kContinue);
            }
            if (connection.senderDone) {
                close(connection.fd); // the sender ended inside the request
                return false;
            }
            return true;
        }
        if (progress == Progress::Refused) {
            handler.refused(connection.peer, connection.frame, connection.frame.refusal());
            (void)sendNow(connection.fd, faultAnswer(NotifyFault::NotNotify, false));
            close(connection.fd);
            return false;
        }
        ConnectionReply reply(connection.fd);
        const size_t size = connection.frame.size();
        handler.serve(connection.peer, connection.frame, std::string_view(bytes.data(), size),
                      reply);
        if (!reply.keepOpen()) {
            close(connection.fd);
            return false;
        }
        bytes.erase(0, size);
        connection.frame = RequestFrame();
        connection.continued = false;
        connection.servedOne = true;
        // What follows is the next request's first bytes, if anything.
        setDeadline(connection, Clock::now() + limits_.request);
    }
}

void Loop::expire(Clock::time_point now, RequestHandler &handler)
{
    for (auto it = connections_.begin(); it != connections_.end();) {
        Connection &connection = *it->second;
        ++it;
        if (now < connection.deadline) {
            continue;
        }
        if (connection.reading) {
            handler.refused(connection.peer, connection.frame, NotifyRefusal::TooSlow);
            if (!connection.bytes.empty()) {
                (void)sendNow(connection.fd, faultAnswer(NotifyFault::NotNotify, false));
            }
        }
        close(connection.fd);
    }
}

Clock::time_point Loop::nextDeadline() const
{
    Clock::time_point next = Clock::time_point::max();
    for (const auto &entry : connections_) {
        next = std::min(next, entry.second->deadline);
    }
    return next;
}

void Loop::armTimer(Clock::time_point when)
{
    armed_ = when;
    itimerspec setting{};
    if (when != Clock::time_point::max()) {
        // The steady clock is the monotonic clock the timer counts in.
        auto since = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch());
        setting.it_value.tv_sec = static_cast<time_t>(since.count() / 1000000000);
        setting.it_value.tv_nsec = static_cast<long>(since.count() % 1000000000);
        if (setting.it_value.tv_sec == 0 && setting.it_value.tv_nsec == 0) {
            setting.it_value.tv_nsec = 1; // zero would disarm it
        }
    }
    (void)timerfd_settime(timer_, TFD_TIMER_ABSTIME, &setting, nullptr);
}

bool Loop::closeOldestIdle()
{
    const Connection *oldest = nullptr;
    for (const auto &entry : connections_) {
        const Connection &candidate = *entry.second;
        if (!candidate.reading && (oldest == nullptr || candidate.deadline < oldest->deadline)) {
            oldest = &candidate;
        }
    }
    if (oldest == nullptr) {
        return false;
    }
    close(oldest->fd);
    return true;
}

void Loop::close(int fd)
{
    auto found = connections_.find(fd);
    if (found == connections_.end()) {
        return;
    }
    if (found->second->watched) {
        (void)epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    }
    __wrap_close(fd);
    connections_.erase(found);
}

} // namespace vek::hub
