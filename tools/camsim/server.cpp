// CameraSim and CameraGroup: the HTTP life cycle (bind, serve on a thread, stop) around the
// event service of one camera or of several behind one port, and the test-facing view of the
// simulator's state.
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

// A server on its own thread, stopped and joined by stop().
struct Serving {
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    std::atomic<bool> listening{false};

    // Binds 127.0.0.1:port (or throws) and serves; the bound port.
    int start(std::unique_ptr<httplib::Server> made, int port)
    {
        int bound = bindLoopback(*made, port);
        server = std::move(made);
        listening = true;
        thread = std::thread([this] {
            server->listen_after_bind();
            listening = false;
        });
        // Server::stop() is a no-op until the accept loop runs: wait for it (bounded).
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!server->is_running() && listening && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return bound;
    }

    void stop()
    {
        if (!server) {
            return;
        }
        while (listening) { // repeat: a stop() racing the loop's start is lost
            server->stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (thread.joinable()) {
            thread.join();
        }
        server.reset();
    }
};

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
    Serving serving; // the camera's own server; idle when a group serves it
    int port = 0;
    std::atomic<bool> running{false};
};

CameraSim::CameraSim(Config config)
    : config_(std::move(config)), impl_(std::make_unique<Impl>(config_))
{
}

CameraSim::~CameraSim()
{
    stop();
}

void CameraSim::loadTopics()
{
    if (!config_.topicSetXml.empty()) {
        impl_->state.setTopicSource(config_.topicSetXml);
    } else if (!config_.topicSetFile.empty()) {
        impl_->state.setTopicSource(readFile(config_.topicSetFile));
    }
}

void CameraSim::prepare(int port)
{
    impl_->port = port;
    impl_->service.setPort(port);
    impl_->state.setStopping(false);
    impl_->running = true;
}

void CameraSim::start()
{
    if (impl_->running) {
        throw std::runtime_error("camsim: already running");
    }
    loadTopics();
    Impl *impl = impl_.get();
    auto server =
        makeServer(config_, [impl](const httplib::Request &request, httplib::Response &response) {
            impl->serve(request, response);
        });
    prepare(impl->serving.start(std::move(server), config_.port));
}

void CameraSim::stop()
{
    impl_->state.setStopping(true);
    impl_->serving.stop();
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
    return baseUrl() + config_.pathPrefix + kEventServicePath;
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

// ---- CameraGroup -------------------------------------------------------------------------------

struct CameraGroup::Impl {
    Serving serving;
    int port = 0;
};

std::string CameraGroup::pathPrefix(size_t index)
{
    return "/camera/" + std::to_string(index + 1);
}

CameraGroup::CameraGroup(std::vector<Config> configs) : impl_(std::make_unique<Impl>())
{
    for (size_t k = 0; k < configs.size(); ++k) {
        configs[k].pathPrefix = pathPrefix(k);
        cameras_.push_back(std::make_unique<CameraSim>(std::move(configs[k])));
    }
}

CameraGroup::~CameraGroup()
{
    stop();
}

void CameraGroup::start()
{
    if (cameras_.empty()) {
        throw std::runtime_error("camsim: a group of no cameras");
    }
    if (impl_->serving.server) {
        throw std::runtime_error("camsim: already running");
    }
    // Each request goes to the camera whose prefix its path starts with.
    auto serve = [this](const httplib::Request &request, httplib::Response &response) {
        for (const auto &camera : cameras_) {
            const std::string prefix = camera->config().pathPrefix + "/";
            if (request.path.compare(0, prefix.size(), prefix) == 0) {
                camera->impl_->serve(request, response);
                return;
            }
        }
        response.status = 404;
    };
    for (auto &camera : cameras_) {
        camera->loadTopics();
    }
    const Config &first = cameras_.front()->config();
    impl_->port = impl_->serving.start(makeServer(first, serve), first.port);
    for (auto &camera : cameras_) {
        camera->prepare(impl_->port);
    }
}

void CameraGroup::stop()
{
    for (auto &camera : cameras_) {
        camera->impl_->state.setStopping(true);
    }
    impl_->serving.stop();
    for (auto &camera : cameras_) {
        camera->impl_->running = false;
    }
}

int CameraGroup::port() const
{
    return impl_->port;
}

} // namespace camsim
