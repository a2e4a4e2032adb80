// The event loop of a hub: one non-blocking listening socket, its
// connections in an epoll set with a timer for their deadlines, and the
// table of open connections with its bounds. Everything here runs on the
// polling thread; it never waits on a sender.
#ifndef VEK_HUB_LOOP_H
#define VEK_HUB_LOOP_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "hub_request.h"
#include "listener_defences.h"

namespace vek::hub
{

using Clock = std::chrono::steady_clock;

struct LoopLimits {
    // Open connections at most; at the bound the oldest idle one closes
    // for a new one.
    size_t connections = 256;
    // A kept-alive connection without a request closes after this time.
    std::chrono::milliseconds idle{15000};
    // The whole request, from its accept or, on a kept-alive connection,
    // from its first byte.
    std::chrono::milliseconds request = kNotifyRequestTime;
};

// The sender of a request.
struct Peer {
    Address address;
    char text[INET6_ADDRSTRLEN] = "?";
};

// What the loop hands a complete or refused request to.
class RequestHandler
{
  public:
    // Writes the answer to the request's connection at once; keepOpen
    // leaves the connection open for the sender's next request.
    class Reply
    {
      public:
        virtual void send(const std::string &answer, bool keepOpen) = 0;

      protected:
        ~Reply() = default;
    };

    // A complete request (head and body as received). The handler answers
    // it through reply, exactly once.
    virtual void serve(const Peer &peer, const RequestFrame &frame, std::string_view request,
                       Reply &reply) = 0;
    // A request given up: refused by its framing (the loop answers it with
    // a fault) or not complete in time (closed without an answer).
    virtual void refused(const Peer &peer, const RequestFrame &frame, NotifyRefusal why) = 0;

  protected:
    ~RequestHandler() = default;
};

class Loop
{
  public:
    Loop();
    ~Loop();
    Loop(const Loop &) = delete;
    Loop &operator=(const Loop &) = delete;

    // Listens on ip (null: every address, IPv6 and IPv4 where the host has
    // both) at port (0: the first free port from the recorder's default).
    // False when no socket could be made or bound.
    bool open(const char *ip, uint16_t port);
    uint16_t port() const { return port_; }
    // Readable when poll has work: a connection waiting, bytes arrived, a
    // deadline passed.
    int fd() const { return epoll_; }

    // Serves what is ready, waiting for it at most until the time given;
    // returns as soon as handler says it has something (served() true) or
    // the time has passed.
    template <typename Done> void run(Clock::time_point until, RequestHandler &handler, Done done)
    {
        do {
            if (!step(until, handler)) {
                return;
            }
        } while (!done() && Clock::now() < until);
    }

    void setLimits(const LoopLimits &limits) { limits_ = limits; }
    size_t openConnections() const { return connections_.size(); }

  private:
    struct Connection;
    class ConnectionReply;

    // One wait and what it found; false when the set cannot be waited on.
    bool step(Clock::time_point until, RequestHandler &handler);
    void acceptWaiting(RequestHandler &handler);
    void receive(Connection &connection, RequestHandler &handler);
    // Serves every complete request in the connection's bytes; false when
    // the connection was closed.
    bool serveReceived(Connection &connection, RequestHandler &handler);
    void expire(Clock::time_point now, RequestHandler &handler);
    Clock::time_point nextDeadline() const;
    void armTimer(Clock::time_point when);
    void setDeadline(Connection &connection, Clock::time_point when);
    // Stops watching the listening socket for a while.
    void restListening();
    bool closeOldestIdle();
    void close(int fd);

    int listen_ = -1;
    int epoll_ = -1;
    int timer_ = -1;
    uint16_t port_ = 0;
    LoopLimits limits_;
    // When the timer fires (max: not set).
    Clock::time_point armed_ = Clock::time_point::max();
    // False while the listening socket rests, until listenAgain_.
    bool listening_ = true;
    Clock::time_point listenAgain_;
    std::unordered_map<int, std::unique_ptr<Connection>> connections_;
};

} // namespace vek::hub

#endif // VEK_HUB_LOOP_H
