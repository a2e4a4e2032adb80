// The simulated event service: the operations and the table that routes requests to them.
#include "service.h"
#include "answers.h"
#include "request.h"
#include "xml_text.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <optional>
#include <stdexcept>

namespace camsim::detail
{

namespace
{

using Handler = Reply (*)(EventService &service, RecordedRequest &request, int id);

std::chrono::system_clock::time_point cameraNow(const Config &config)
{
    return std::chrono::system_clock::now() + config.clockOffset;
}

std::string cameraTime(const Config &config)
{
    return formatTime(cameraNow(config));
}

// A requested duration, cut to the longest the camera grants.
std::chrono::seconds granted(const Config &config, std::chrono::seconds duration)
{
    return config.maxTermination.count() > 0 ? std::min(duration, config.maxTermination) : duration;
}

// The termination time answered for a requested one: a duration counts from now, an absolute
// time is answered as requested, none gives the configured default.
std::string terminationFor(const Config &config, const std::string &requested)
{
    std::string text = trim(requested);
    if (text.empty()) {
        return formatTime(cameraNow(config) + config.defaultTermination);
    }
    if (auto duration = parseDuration(text)) {
        return formatTime(cameraNow(config) + granted(config, *duration));
    }
    return text;
}

// When a pull point with that requested termination ends: an absolute time never.
std::chrono::system_clock::time_point terminationPointFor(const Config &config,
                                                          const std::string &requested)
{
    std::string text = trim(requested);
    if (text.empty()) {
        return cameraNow(config) + config.defaultTermination;
    }
    if (auto duration = parseDuration(text)) {
        return cameraNow(config) + granted(config, *duration);
    }
    return std::chrono::system_clock::time_point::max();
}

Reply createSubscription(EventService &service, RecordedRequest &request, bool pullPoint)
{
    const Config &config = service.config();
    const ReferenceOptions &options = pullPoint ? config.pullPoint : config.subscribe;
    Subscription subscription;
    subscription.pullPoint = pullPoint;
    subscription.hasReferenceParameters = options.referenceParameters && !options.omitReference;
    subscription.initialTerminationTime = bodyField(request, "InitialTerminationTime");
    subscription.topicFilter = bodyField(request, "Filter/TopicExpression");
    if (!pullPoint) {
        subscription.consumerAddress = bodyField(request, "ConsumerReference/Address");
        if (subscription.consumerAddress.empty()) {
            return senderFault(request, config, "ter:InvalidArgVal",
                               "ConsumerReference Address missing");
        }
    }
    subscription.terminationTime = terminationFor(config, subscription.initialTerminationTime);
    subscription.terminationAt = terminationPointFor(config, subscription.initialTerminationTime);
    Subscription stored = service.state().addSubscription(subscription);
    if (pullPoint && config.initialStatesOnCreate) {
        service.state().queueInitialStates(stored.id);
    }
    const bool shared = pullPoint && config.sharedPullPointAddress;
    CreatedSubscription created{stored, options,
                                service.baseUrl() + (shared      ? kSharedPullPointPath
                                                     : pullPoint ? kPullPointPath
                                                                 : kSubscriptionPath),
                                cameraTime(config), !shared};
    return pullPoint ? createPullPointAnswer(request, config, created)
                     : subscribeAnswer(request, config, created);
}

Reply subscribe(EventService &service, RecordedRequest &request, int)
{
    return createSubscription(service, request, false);
}

Reply createPullPoint(EventService &service, RecordedRequest &request, int)
{
    return createSubscription(service, request, true);
}

Reply getEventProperties(EventService &service, RecordedRequest &request, int)
{
    return eventPropertiesAnswer(request, service.state().topicSource());
}

// The subscription (or pull point) a request addresses. Its path names it; an id header, when
// the client echoes one, must match (clients that do not echo reference parameters are served
// at the unique address alone). Otherwise the fault to answer.
std::optional<Reply> findAddressed(EventService &service, RecordedRequest &request, int id,
                                   bool pullPoint, Subscription &found)
{
    const Config &config = service.config();
    if (pullPoint && service.state().expire(id, cameraNow(config))) {
        return senderFault(request, config, "ter:ResourceUnknown", "pull point terminated");
    }
    std::optional<Subscription> subscription = service.state().subscription(id);
    if (!subscription || subscription->pullPoint != pullPoint) {
        return senderFault(request, config, "ter:ResourceUnknown", "no such subscription");
    }
    found = *subscription;
    if (!found.hasReferenceParameters) {
        return std::nullopt;
    }
    auto header = std::find_if(
        request.referenceParameters.begin(), request.referenceParameters.end(),
        [&](const HeaderElement &element) { return element.localName == config.idLocalName; });
    if (header == request.referenceParameters.end()) {
        return std::nullopt;
    }
    if (header->namespaceUri != config.idNamespace || trim(header->text) != found.idText) {
        return senderFault(request, config, "ter:ResourceUnknown",
                           "subscription id header does not match");
    }
    return std::nullopt;
}

Reply renew(EventService &service, RecordedRequest &request, int id, bool pullPoint)
{
    Subscription subscription;
    if (auto fault = findAddressed(service, request, id, pullPoint, subscription)) {
        return *fault;
    }
    const Config &config = service.config();
    std::string requested = bodyField(request, "TerminationTime");
    std::string termination = terminationFor(config, requested);
    auto terminationAt = pullPoint ? terminationPointFor(config, requested)
                                   : std::chrono::system_clock::time_point::max();
    if (!service.state().renew(id, termination, terminationAt)) {
        return senderFault(request, config, "ter:ResourceUnknown", "no such subscription");
    }
    return renewAnswer(request, termination, cameraTime(config));
}

Reply unsubscribe(EventService &service, RecordedRequest &request, int id, bool pullPoint)
{
    Subscription subscription;
    if (auto fault = findAddressed(service, request, id, pullPoint, subscription)) {
        return *fault;
    }
    if (!service.state().removeSubscription(id)) {
        return senderFault(request, service.config(), "ter:ResourceUnknown",
                           "no such subscription");
    }
    return unsubscribeAnswer(request);
}

Reply renewSubscription(EventService &service, RecordedRequest &request, int id)
{
    return renew(service, request, id, false);
}

Reply unsubscribeSubscription(EventService &service, RecordedRequest &request, int id)
{
    return unsubscribe(service, request, id, false);
}

Reply renewPullPoint(EventService &service, RecordedRequest &request, int id)
{
    return renew(service, request, id, true);
}

Reply unsubscribePullPoint(EventService &service, RecordedRequest &request, int id)
{
    return unsubscribe(service, request, id, true);
}

Reply pullMessages(EventService &service, RecordedRequest &request, int id)
{
    Subscription pullPoint;
    if (auto fault = findAddressed(service, request, id, true, pullPoint)) {
        return *fault;
    }
    const Config &config = service.config();
    long limit = 1;
    try {
        std::string text = bodyField(request, "MessageLimit");
        limit = text.empty() ? 1 : std::stol(text);
    } catch (const std::exception &) {
        return senderFault(request, config, "ter:InvalidArgVal", "bad MessageLimit");
    }
    if (config.ignoreMessageLimit) {
        limit = std::numeric_limits<long>::max();
    }
    auto timeout = parseDuration(bodyField(request, "Timeout")).value_or(std::chrono::seconds(0));
    auto wait = std::min<std::chrono::milliseconds>(timeout, config.maxPullWait);
    std::string messages = service.state().takeMessages(id, limit, wait);
    return pullMessagesAnswer(request, cameraTime(config), pullPoint.terminationTime, messages);
}

Reply setSynchronizationPoint(EventService &service, RecordedRequest &request, int id)
{
    Subscription pullPoint;
    if (auto fault = findAddressed(service, request, id, true, pullPoint)) {
        return *fault;
    }
    service.state().queueInitialStates(pullPoint.id);
    return synchronizationPointAnswer(request);
}

// At the shared pull-point address the id comes from the SubscriptionId header only; -1 when
// the request carries none that reads as a number.
int idFromHeader(const EventService &service, const RecordedRequest &request)
{
    const Config &config = service.config();
    for (const HeaderElement &element : request.referenceParameters) {
        if (element.localName != config.idLocalName || element.namespaceUri != config.idNamespace) {
            continue;
        }
        std::string text = trim(element.text);
        if (text.empty() || text.size() > 9 ||
            text.find_first_not_of("0123456789") != std::string::npos) {
            return -1;
        }
        return std::stoi(text);
    }
    return -1;
}

template <Reply (*handler)(EventService &, RecordedRequest &, int)>
Reply atSharedAddress(EventService &service, RecordedRequest &request, int)
{
    int id = idFromHeader(service, request);
    if (id < 0) {
        return senderFault(request, service.config(), "ter:InvalidArgVal",
                           "subscription id header missing");
    }
    return handler(service, request, id);
}

// A request path: the event service's own, or a prefix followed by a subscription id.
struct ServicePath {
    const char *path;
    bool takesId;
};

constexpr ServicePath kEventServiceAt{kEventServicePath, false};
constexpr ServicePath kSubscriptionManagerAt{kSubscriptionPath, true};
constexpr ServicePath kPullPointAt{kPullPointPath, true};
constexpr ServicePath kSharedPullPointAt{kSharedPullPointPath, false};

struct Route {
    const ServicePath &path;
    const char *operation; // local name of the Body's first child
    Handler handler;
};

const Route kRoutes[] = {
    {kEventServiceAt, "GetEventProperties", getEventProperties},
    {kEventServiceAt, "Subscribe", subscribe},
    {kEventServiceAt, "CreatePullPointSubscription", createPullPoint},
    {kSubscriptionManagerAt, "Renew", renewSubscription},
    {kSubscriptionManagerAt, "Unsubscribe", unsubscribeSubscription},
    {kPullPointAt, "PullMessages", pullMessages},
    {kPullPointAt, "Renew", renewPullPoint},
    {kPullPointAt, "Unsubscribe", unsubscribePullPoint},
    {kPullPointAt, "SetSynchronizationPoint", setSynchronizationPoint},
    {kSharedPullPointAt, "PullMessages", atSharedAddress<pullMessages>},
    {kSharedPullPointAt, "Renew", atSharedAddress<renewPullPoint>},
    {kSharedPullPointAt, "Unsubscribe", atSharedAddress<unsubscribePullPoint>},
    {kSharedPullPointAt, "SetSynchronizationPoint", atSharedAddress<setSynchronizationPoint>},
};

// Whether path is served at `at`; sets id (0 for the event service's own path).
bool pathMatches(const ServicePath &at, const std::string &path, int &id)
{
    id = at.takesId ? pathId(path, at.path) : (path == at.path ? 0 : -1);
    return id >= 0;
}

} // namespace

std::string EventService::baseUrl() const
{
    return std::string(config_.tls ? "https://" : "http://") + config_.advertisedHost + ":" +
           std::to_string(port_) + config_.pathPrefix;
}

std::string EventService::digestNonce() const
{
    std::lock_guard<std::mutex> lock(digestMutex_);
    return digestNonce_;
}

bool EventService::checkDigest(RecordedRequest &request)
{
    std::lock_guard<std::mutex> lock(digestMutex_);
    if (digestMatches(request.authorization, config_, digestNonce_, request.path)) {
        if (config_.digestNonceUses > 0 && ++digestUses_ >= config_.digestNonceUses) {
            usedUpNonce_ = digestNonce_;
            digestNonce_ = makeServerNonce();
            digestUses_ = 0;
        }
        return true;
    }
    request.digestStale = !usedUpNonce_.empty() &&
                          digestMatches(request.authorization, config_, usedUpNonce_, request.path);
    return false;
}

Reply EventService::handle(RecordedRequest &request)
{
    parseRequest(request, config_);
    if (config_.httpDigest) {
        request.digestAuthenticated = checkDigest(request);
        if (!request.digestAuthenticated) {
            return Reply{401, "Unauthorized\n", "text/plain"}; // the server adds the challenge
        }
    }
    if (!request.wellFormed) {
        return senderFault(request, config_, "ter:WellFormed",
                           "request is not a well-formed SOAP envelope");
    }
    if (request.operation.empty()) {
        return senderFault(request, config_, "ter:ActionNotSupported", "empty Body");
    }
    if (config_.requireAuth && !config_.authExempt.count(request.operation) &&
        !request.authenticated) {
        return senderFault(request, config_, "ter:NotAuthorized", "Sender not Authorized");
    }
    if (config_.interceptor) {
        if (std::optional<Reply> reply = config_.interceptor(request)) {
            return *reply;
        }
    }
    return dispatch(request);
}

Reply EventService::dispatch(RecordedRequest &request)
{
    const std::string &prefix = config_.pathPrefix;
    if (request.path.compare(0, prefix.size(), prefix) != 0) {
        return Reply{404, "", "text/plain"};
    }
    const std::string path = request.path.substr(prefix.size());
    bool pathServed = false;
    for (const Route &route : kRoutes) {
        int id = -1;
        if (!pathMatches(route.path, path, id)) {
            continue;
        }
        pathServed = true;
        if (request.operation == route.operation) {
            return route.handler(*this, request, id);
        }
    }
    if (!pathServed) {
        return Reply{404, "", "text/plain"};
    }
    return senderFault(request, config_, "ter:ActionNotSupported",
                       "operation '" + request.operation + "' not supported at " + request.path);
}

} // namespace camsim::detail
