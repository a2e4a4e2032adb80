// CameraSim: the HTTP life cycle (bind, serve on a thread, stop) around the event service, and
// the test-facing view of the simulator's state.
#include "auth.h"
#include "camsim.h"
#include "service.h"
#include "state.h"

#include <httplib.h>
#include <openssl/pem.h>
#include <sys/socket.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace camsim
{

using namespace detail;

namespace
{

// An HTTPS server presenting identity's certificate; throws when the PEM texts do not load.
std::unique_ptr<httplib::Server> makeTlsServer(const Identity &identity)
{
    auto freeBio = [](BIO *bio) { BIO_free(bio); };
    std::unique_ptr<BIO, decltype(freeBio)> certBio(
        BIO_new_mem_buf(identity.certPem.data(), static_cast<int>(identity.certPem.size())),
        freeBio);
    std::unique_ptr<BIO, decltype(freeBio)> keyBio(
        BIO_new_mem_buf(identity.keyPem.data(), static_cast<int>(identity.keyPem.size())), freeBio);
    X509 *cert = PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr);
    EVP_PKEY *key = PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr);
    std::unique_ptr<httplib::SSLServer> server;
    if (cert != nullptr && key != nullptr) {
        server = std::make_unique<httplib::SSLServer>(cert, key); // takes its own references
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    if (!server || !server->is_valid()) {
        throw std::runtime_error("camsim: cannot serve HTTPS with the given certificate");
    }
    return server;
}

// An HTTP server with the simulator's time-outs and socket options; every POST goes to serve.
std::unique_ptr<httplib::Server> makeServer(const Config &config, httplib::Server::Handler serve)
{
    auto server = config.tls ? makeTlsServer(*config.tls) : std::make_unique<httplib::Server>();
    server->set_read_timeout(2, 0);
    server->set_write_timeout(3, 0);
    // The server's keep-alive wait does not notice stop(): an open keep-alive connection delays
    // stop() by up to the keep-alive time-out. Without keepAlive every answer closes.
    if (config.keepAlive) {
        server->set_keep_alive_timeout(1);
    } else {
        server->set_keep_alive_max_count(1);
        server->set_keep_alive_timeout(2); // wait for the first request of a connection
    }
    server->set_payload_max_length(64 * 1024 * 1024);
    // SO_REUSEADDR only: the default also sets SO_REUSEPORT, which lets a second server bind
    // a port that is already taken.
    server->set_socket_options([](int sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server->Post(".*", std::move(serve));
    return server;
}

// Binds 127.0.0.1:port (any free port for 0); returns the bound port or throws.
int bindLoopback(httplib::Server &server, int port)
{
    int bound = -1;
    if (port == 0) {
        bound = server.bind_to_any_port("127.0.0.1");
    } else if (server.bind_to_port("127.0.0.1", port)) {
        bound = port;
    }
    if (bound <= 0) {
        throw std::runtime_error("camsim: cannot bind 127.0.0.1:" + std::to_string(port) +
                                 " (port in use or not permitted)");
    }
    return bound;
}

} // namespace

struct CameraSim::Impl {
    explicit Impl(const Config &config) : service(config, state) {}

    // One HTTP exchange: the request recorded with the status it was answered with.
    void serve(const httplib::Request &httpRequest, httplib::Response &httpResponse)
    {
        RecordedRequest request;
        request.path = httpRequest.path;
        request.contentType = httpRequest.get_header_value("Content-Type");
        request.rawBody = httpRequest.body;
        request.authorization = httpRequest.get_header_value("Authorization");
        Reply reply = service.handle(request);
        request.responseStatus = reply.status;
        httpResponse.status = reply.status;
        httpResponse.set_header("Date", httpDate(cameraClock(service.config())));
        if (reply.status == 401 && service.config().httpDigest) {
            httpResponse.set_header(
                "WWW-Authenticate",
                digestChallenge(service.config(), service.digestNonce(), request.digestStale));
        }
        if (!reply.body.empty()) {
            httpResponse.set_content(reply.body, reply.contentType.c_str());
        }
        state.record(std::move(request));
    }

    SimState state;
    EventService service;
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    int port = 0;
    std::atomic<bool> running{false};
    std::atomic<bool> listening{false};
};

CameraSim::CameraSim(Config config)
    : config_(std::move(config)), impl_(std::make_unique<Impl>(config_))
{
}

CameraSim::~CameraSim()
{
    stop();
}

void CameraSim::start()
{
    if (impl_->running) {
        throw std::runtime_error("camsim: already running");
    }
    if (!config_.topicSetXml.empty()) {
        impl_->state.setTopicSource(config_.topicSetXml);
    } else if (!config_.topicSetFile.empty()) {
        impl_->state.setTopicSource(readFile(config_.topicSetFile));
    }
    Impl *impl = impl_.get();
    auto server =
        makeServer(config_, [impl](const httplib::Request &request, httplib::Response &response) {
            impl->serve(request, response);
        });
    impl->port = bindLoopback(*server, config_.port);
    impl->service.setPort(impl->port);
    impl->state.setStopping(false);
    impl->server = std::move(server);
    impl->listening = true;
    impl->thread = std::thread([impl] {
        impl->server->listen_after_bind();
        impl->listening = false;
    });
    // Server::stop() is a no-op until the accept loop runs: wait for it (bounded).
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!impl->server->is_running() && impl->listening &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    impl->running = true;
}

void CameraSim::stop()
{
    if (!impl_->server) {
        return;
    }
    impl_->state.setStopping(true);
    while (impl_->listening) { // repeat: a stop() racing the loop's start is lost
        impl_->server->stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (impl_->thread.joinable()) {
        impl_->thread.join();
    }
    impl_->server.reset();
    impl_->running = false;
}

bool CameraSim::running() const
{
    return impl_->running;
}

int CameraSim::port() const
{
    return impl_->port;
}

std::string CameraSim::baseUrl() const
{
    return std::string(config_.tls ? "https://" : "http://") +
           "127.0.0.1:" + std::to_string(port());
}

std::string CameraSim::eventServiceUrl() const
{
    return baseUrl() + kEventServicePath;
}

std::vector<RecordedRequest> CameraSim::requests() const
{
    return impl_->state.requests();
}

std::vector<RecordedRequest> CameraSim::requests(const std::string &operation) const
{
    return impl_->state.requests(operation);
}

bool CameraSim::waitForRequests(size_t n, std::chrono::milliseconds timeout) const
{
    return impl_->state.waitForRequests(n, timeout);
}

void CameraSim::clearRequests()
{
    impl_->state.clearRequests();
}

void CameraSim::queueMessage(const std::string &notificationMessage)
{
    impl_->state.queueMessage(notificationMessage);
}

bool CameraSim::queueMessage(int pullPointId, const std::string &notificationMessage)
{
    return impl_->state.queueMessage(pullPointId, notificationMessage);
}

void CameraSim::queueMessage(const std::string &topic, const std::string &messageXml)
{
    queueMessage(makeNotificationMessage(topic, messageXml));
}

void CameraSim::setPropertyState(const std::string &topic, const std::string &messageXml)
{
    impl_->state.setPropertyState(makeNotificationMessage(topic, messageXml));
}

size_t CameraSim::queuedMessages() const
{
    return impl_->state.queuedMessages();
}

void CameraSim::setTopicSetXml(const std::string &xml)
{
    impl_->state.setTopicSource(xml);
}

std::vector<Subscription> CameraSim::subscriptions() const
{
    return impl_->state.subscriptions();
}

std::optional<Subscription> CameraSim::subscription(int id) const
{
    return impl_->state.subscription(id);
}

SendResult CameraSim::notify(int id, const std::vector<std::string> &messages,
                             const SendOptions &options) const
{
    std::optional<Subscription> subscription = impl_->state.subscription(id);
    if (!subscription || subscription->consumerAddress.empty()) {
        SendResult result;
        result.error = "no subscription " + std::to_string(id) + " with a consumer address";
        return result;
    }
    return pushNotify(subscription->consumerAddress, messages, options);
}

} // namespace camsim
