// The recorder's Ping service and client on the system gSOAP runtime.
#include "recorder_peer.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include "recorderH.h"

namespace recorder
{

struct PingServer::Context {
    struct soap *soap = nullptr;
    std::string expectedToken;
    std::atomic<int> answered{0};
};

PingServer::PingServer(std::string expectedToken) : context_(std::make_unique<Context>())
{
    context_->expectedToken = std::move(expectedToken);
    struct soap *soap = soap_new();
    if (soap == nullptr) {
        startError_ = "soap_new failed";
        return;
    }
    context_->soap = soap;
    soap->user = context_.get();
    soap->bind_flags = SO_REUSEADDR;
    soap->accept_timeout = -100000; // 100 ms, so that the thread sees the stop flag
    soap->recv_timeout = 5;
    soap->send_timeout = 5;
    if (!soap_valid_socket(soap_bind(soap, "127.0.0.1", 0, 16))) {
        char text[256] = "";
        soap_sprint_fault(soap, text, sizeof text);
        startError_ = std::string("soap_bind failed: ") + text;
        return;
    }
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (getsockname(soap->master, reinterpret_cast<sockaddr *>(&local), &length) != 0) {
        startError_ = "getsockname failed";
        return;
    }
    port_ = ntohs(local.sin_port);
    thread_ = std::thread([this] { serve(); });
}

PingServer::~PingServer()
{
    stopping_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    if (context_->soap != nullptr) {
        soap_destroy(context_->soap);
        soap_end(context_->soap);
        soap_free(context_->soap);
    }
}

std::string PingServer::url() const
{
    return "http://127.0.0.1:" + std::to_string(port_) + "/recorder";
}

int PingServer::answered() const
{
    return context_->answered.load();
}

void PingServer::serve()
{
    struct soap *soap = context_->soap;
    while (!stopping_) {
        if (!soap_valid_socket(soap_accept(soap))) {
            continue; // time-out: look at the stop flag again
        }
        soap_serve(soap);
        soap_destroy(soap);
        soap_end(soap);
    }
}

PingResult ping(const std::string &url, const std::string &token, const std::string &text)
{
    PingResult result;
    struct soap *soap = soap_new();
    if (soap == nullptr) {
        result.description = "soap_new failed";
        return result;
    }
    soap->connect_timeout = 5;
    soap->send_timeout = 5;
    soap->recv_timeout = 5;
    soap->header = soap_new_SOAP_ENV__Header(soap);
    soap->header->ns__Token = soap_strdup(soap, token.c_str());
    char *echo = nullptr;
    result.error =
        soap_call_ns__Ping(soap, url.c_str(), nullptr, soap_strdup(soap, text.c_str()), &echo);
    if (result.error == SOAP_OK) {
        result.echo = echo != nullptr ? echo : "";
        if (soap->header != nullptr && soap->header->ns__Token != nullptr) {
            result.token = soap->header->ns__Token;
        }
    } else {
        char fault[512] = "";
        soap_sprint_fault(soap, fault, sizeof fault);
        result.description = fault;
    }
    soap_destroy(soap);
    soap_end(soap);
    soap_free(soap);
    return result;
}

} // namespace recorder

// The service operation: the request must carry the expected token; the
// answer's header carries it back acknowledged.
int ns__Ping(struct soap *soap, char *text, char **echo)
{
    auto *context = static_cast<recorder::PingServer::Context *>(soap->user);
    const char *token = soap->header != nullptr ? soap->header->ns__Token : nullptr;
    if (token == nullptr || context->expectedToken != token) {
        return soap_sender_fault(soap, "Token header missing or wrong",
                                 token != nullptr ? token : "no token");
    }
    *echo = text;
    std::string acknowledged = std::string("ack:") + token;
    soap->header = soap_new_SOAP_ENV__Header(soap);
    soap->header->ns__Token = soap_strdup(soap, acknowledged.c_str());
    ++context->answered;
    return SOAP_OK;
}
