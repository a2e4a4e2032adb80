// The recorder's own gSOAP service and client for the coexistence tests,
// built from its generated module (recorder_module.h) on the system gSOAP
// runtime. The interface carries no gSOAP type, so the test programs that
// use it never see a stdsoap2.h.
#ifndef VEK_COEXIST_RECORDER_PEER_H
#define VEK_COEXIST_RECORDER_PEER_H

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace recorder
{

// A Ping service on 127.0.0.1 (ephemeral port), served on a thread of its
// own until destroyed. It answers a request whose Token header equals the
// expected token with the text echoed and the token "ack:<token>" in its
// own header, and any other request with a sender fault.
class PingServer
{
  public:
    explicit PingServer(std::string expectedToken);
    ~PingServer();
    PingServer(const PingServer &) = delete;
    PingServer &operator=(const PingServer &) = delete;

    // Empty when the server is listening; otherwise why it is not.
    const std::string &startError() const { return startError_; }
    std::string url() const;
    // Requests answered with success so far.
    int answered() const;

    struct Context;

  private:
    void serve();
    std::unique_ptr<Context> context_;
    std::string startError_;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

struct PingResult {
    int error = -1;          // the runtime's result, 0 on success
    std::string echo;        // the echoed text
    std::string token;       // the Token of the answer's header ("" when none)
    std::string description; // the runtime's fault text when error is not 0
};

// Calls Ping at url with token in the request's header; bounded by five
// seconds per connect, send and receive.
PingResult ping(const std::string &url, const std::string &token, const std::string &text);

} // namespace recorder

#endif // VEK_COEXIST_RECORDER_PEER_H
