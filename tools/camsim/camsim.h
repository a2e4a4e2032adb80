// Camera simulator for the ONVIF event service: an HTTP/1.1 server on 127.0.0.1 that answers
// GetEventProperties, Subscribe, Renew, Unsubscribe, CreatePullPointSubscription, PullMessages
// and SetSynchronizationPoint, records every request, and pushes Notify requests (well-formed or
// hostile) to a consumer. Independent of the library's SOAP bindings: XML is read with Mini-XML
// and written as text.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "certificates.h"

namespace camsim
{

// Namespace URIs used in requests and answers.
namespace ns
{
inline constexpr const char *kSoapEnv = "http://www.w3.org/2003/05/soap-envelope";
inline constexpr const char *kWsa5 = "http://www.w3.org/2005/08/addressing";
inline constexpr const char *kWsnt = "http://docs.oasis-open.org/wsn/b-2";
inline constexpr const char *kWstop = "http://docs.oasis-open.org/wsn/t-1";
inline constexpr const char *kTev = "http://www.onvif.org/ver10/events/wsdl";
inline constexpr const char *kTt = "http://www.onvif.org/ver10/schema";
inline constexpr const char *kTns1 = "http://www.onvif.org/ver10/topics";
inline constexpr const char *kTer = "http://www.onvif.org/ver10/error";
inline constexpr const char *kWsse =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd";
inline constexpr const char *kWsu =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd";
inline constexpr const char *kPasswordDigest =
    "http://docs.oasis-open.org/wss/2004/01/"
    "oasis-200401-wss-username-token-profile-1.0#PasswordDigest";
inline constexpr const char *kTopicDialectConcrete =
    "http://www.onvif.org/ver10/tev/topicExpression/ConcreteSet";
inline constexpr const char *kNotifyAction =
    "http://docs.oasis-open.org/wsn/bw-2/NotificationConsumer/Notify";
} // namespace ns

// Where the namespace of the subscription id element (inside ReferenceParameters) is declared.
enum class IdDeclaration {
    OnElement,  // <dom0:SubscriptionId xmlns:dom0="...">n</dom0:SubscriptionId>
    OnEnvelope, // xmlns:dom0="..." on the Envelope start tag only
};

// Shape of the SubscriptionReference in SubscribeResponse / CreatePullPointSubscriptionResponse.
struct ReferenceOptions {
    bool referenceParameters = true; // ReferenceParameters holding the id element
    IdDeclaration idDeclaration = IdDeclaration::OnElement;
    bool padId = false;         // id text wrapped in whitespace ("\n    n   \n")
    bool omitReference = false; // no SubscriptionReference at all
    bool omitAddress = false;   // SubscriptionReference without Address
    bool longAddress = false;   // Address followed by a ~300 character query string
    std::string addressSuffix;  // appended verbatim to the Address (e.g. "?Idx=3")
    std::string idTagExtra;     // written verbatim at the end of the id element's start tag
};

// A reply that replaces the simulator's own answer (see Config::interceptor).
struct Reply {
    int status = 200;
    std::string body;
    std::string contentType = "application/soap+xml; charset=utf-8";
};

// One direct child of the SOAP Header (other than WS-Addressing / WS-Security elements).
struct HeaderElement {
    std::string qualifiedName; // as written, e.g. "dom0:SubscriptionId"
    std::string localName;     // e.g. "SubscriptionId"
    std::string namespaceUri;  // resolved through the element and its ancestors; "" if unbound
    std::string text;          // untrimmed text content
    std::string xml;           // the element re-serialised (with the attributes it carries)
    std::map<std::string, std::string> attributes; // as written name -> value, unescaped
};

struct RecordedRequest {
    std::string operation;   // local name of the first Body child ("" when unparsable)
    std::string path;        // HTTP path, e.g. "/onvif/subscription/1"
    std::string contentType; // whole Content-Type header
    std::string httpAction;  // action="..." parameter of the Content-Type ("" when absent)
    bool wellFormed = false; // body parsed as XML with an Envelope/Body

    // WS-Addressing header values (any WS-Addressing namespace, matched on local names).
    std::string wsaAction, wsaTo, wsaMessageId, wsaReplyTo;
    // Every direct Header child that is not WS-Addressing or WS-Security.
    std::vector<HeaderElement> referenceParameters;

    bool hasSecurity = false; // a Header/Security element was present
    std::string username, password, passwordType, nonce, created;
    bool authenticated = false;       // username and digest matched the configuration (and Created
                                      // the camera's clock, with Config::createdWindow)
    std::string authorization;        // HTTP Authorization header ("" when absent)
    bool digestAuthenticated = false; // it answered the HTTP Digest challenge
    bool digestStale = false;         // it answered a used-up nonce (see Config::digestNonceUses)

    // Leaf values under the operation element, keyed by the local-name path below it:
    // "ConsumerReference/Address", "Filter/TopicExpression", "Filter/TopicExpression@Dialect",
    // "InitialTerminationTime", "TerminationTime", "Timeout", "MessageLimit". Text is trimmed.
    // For repeated paths the first occurrence wins.
    std::map<std::string, std::string> body;
    std::string rawBody;

    int responseStatus = 0;   // HTTP status the simulator answered
    std::string faultSubcode; // e.g. "ter:NotAuthorized" when the answer was a fault
};

// A subscription or pull point the simulator holds.
struct Subscription {
    int id = 0;
    bool pullPoint = false;
    std::string idText; // value of the id element ("1", "2", ...)
    bool hasReferenceParameters = false;
    std::string consumerAddress;        // Subscribe only
    std::string topicFilter;            // Filter/TopicExpression (trimmed)
    std::string initialTerminationTime; // as requested
    std::string terminationTime;        // as last answered
    // When a pull point ends (camera clock); an absolute requested time never ends it.
    std::chrono::system_clock::time_point terminationAt =
        std::chrono::system_clock::time_point::max();
    int renewCount = 0;
};

struct Config {
    int port = 0; // 0 = ephemeral
    std::string user = "admin";
    std::string password = "secret";
    bool requireAuth = true;
    std::set<std::string> authExempt; // operations served without checking WS-Security

    // Topic set served by GetEventProperties. topicSetXml wins over topicSetFile. Either may be
    // a whole envelope or a bare GetEventPropertiesResponse element (served byte for byte; the
    // answer's envelope re-declares the namespaces the source envelope declared plus the usual
    // ONVIF prefixes), or, if it holds no GetEventPropertiesResponse element, the content of
    // wstop:TopicSet. Empty both: a small built-in topic set.
    std::string topicSetFile;
    std::string topicSetXml;

    // Subscription id element in ReferenceParameters.
    std::string idNamespace = "http://www.example.com/onvif/subscription";
    std::string idPrefix = "dom0";
    std::string idLocalName = "SubscriptionId";
    ReferenceOptions subscribe; // SubscribeResponse
    ReferenceOptions pullPoint{false, IdDeclaration::OnElement, false, false, false, false, {}, {}};

    std::string advertisedHost = "127.0.0.1"; // host written into answered addresses
    // Put before every path the camera serves and answers (e.g. "/camera/2"): the event service
    // is then at /camera/2/onvif/event_service. Empty: the paths as they are.
    std::string pathPrefix;
    std::chrono::seconds clockOffset{0}; // added to the camera's clock
    // The camera refuses a token whose Created differs from its clock (clockOffset applied) by
    // more than this; nullopt: Created is not judged. Every answer carries the camera's time in
    // its HTTP Date header.
    std::optional<std::chrono::seconds> createdWindow;
    // HTTP Digest authentication: a request without an Authorization header that answers the
    // challenge (qop auth, digestAlgorithm, realm, this run's nonce, opaque echoed) gets 401
    // with the challenge in WWW-Authenticate, before any other check.
    bool httpDigest = false;
    std::string digestAlgorithm = "MD5"; // MD5, SHA-256, MD5-sess or SHA-256-sess
    std::string digestRealm = "camsim";
    std::string digestOpaque = "0b3f5a4c";
    std::optional<std::string> digestChallenge; // sent instead of the generated one, "{nonce}"
                                                // standing for this run's nonce
    // 0: one nonce serves the whole run. N: a nonce is used up after N answers to it; a later
    // answer to it (otherwise right) gets 401 with stale=true and the challenge of a new nonce.
    int digestNonceUses = 0;
    std::chrono::seconds defaultTermination{60}; // when InitialTerminationTime is absent
    std::chrono::seconds maxTermination{0};      // longer requested durations are cut; 0: none
    std::chrono::milliseconds maxPullWait{200};  // cap on waiting in PullMessages
    bool ignoreMessageLimit =
        false; // PullMessages answers every queued message, whatever the limit
    // Pull points share one address (kSharedPullPointPath, as some cameras answer
    // "http://.../onvif/services") and are told apart only by their SubscriptionId reference
    // parameter; needs pullPoint.referenceParameters.
    bool sharedPullPointAddress = false;
    // A new pull point starts with the current state of every property queued as
    // "Initialized" messages.
    bool initialStatesOnCreate = false;
    int senderFaultStatus = 400; // HTTP status for Sender faults
    // Keep connections open between requests (HTTP keep-alive). Off: every answer carries
    // "Connection: close". On: stop() may take up to a second while a client holds a connection.
    bool keepAlive = false;
    // Serve HTTPS with this certificate (see makeIdentity) instead of plain HTTP; the answered
    // addresses then start with https://.
    std::optional<Identity> tls;

    // Called for every parsed request after recording and the auth check (auth failures are
    // answered first). Returning a Reply replaces the simulator's answer; the call may sleep to
    // simulate a slow camera (keep it bounded).
    std::function<std::optional<Reply>(const RecordedRequest &)> interceptor;
};

// Result of sending bytes to a consumer.
struct SendResult {
    bool connected = false;
    bool sent = false; // every byte was written
    size_t bytesSent = 0;
    int status = 0;       // HTTP status of the answer, 0 = none
    std::string response; // raw answer bytes (headers and body) as far as received
    std::string error;    // why something failed
};

struct SendOptions {
    std::chrono::milliseconds connectTimeout{2000};
    std::chrono::milliseconds ioTimeout{3000};    // per send/recv wait
    std::chrono::milliseconds maxDuration{10000}; // overall cap, including slow sending
    std::chrono::milliseconds delayPerChunk{0};   // pause after each chunk (slow sender)
    size_t chunkSize = 0;                         // bytes per write; 0 = all at once
    size_t closeAfter = 0;                        // close after this many bytes; 0 = never
    bool shutdownWrite = false;                   // half-close after sending
    bool readResponse = true;                     // wait for the consumer's answer
};

struct HttpPostOptions {
    std::string contentType = "application/soap+xml; charset=utf-8";
    std::string action = ns::kNotifyAction;   // Content-Type action parameter; "" = none
    std::optional<std::string> contentLength; // override the value; std::nullopt = real length
    bool omitContentLength = false;
    bool chunked = false;   // Transfer-Encoding: chunked (no Content-Length)
    size_t chunkSize = 256; // size of each chunk when chunked
    bool connectionClose = true;
    std::vector<std::pair<std::string, std::string>> extraHeaders;
};

// Parsed http://host:port/path (host must be 127.0.0.1 or localhost).
struct Url {
    std::string host;
    int port = 80;
    std::string path = "/";
};
std::optional<Url> parseUrl(const std::string &url);

// HTTP/1.1 POST bytes (request line, headers, body) for url.
std::string buildHttpPost(const std::string &url, const std::string &body,
                          const HttpPostOptions &options = {});

// Send raw bytes over a fresh TCP connection to url's host and port, bounded in time.
SendResult sendRaw(const std::string &url, const std::string &bytes,
                   const SendOptions &options = {});

// A wsnt:NotificationMessage with the given topic (tns1: prefixed, undeclared as cameras send
// it) around an inner message element (e.g. "<tt:Message ...>...</tt:Message>").
std::string makeNotificationMessage(const std::string &topic, const std::string &messageXml,
                                    const std::string &dialect = ns::kTopicDialectConcrete);

// A simple tt:Message with one Source and one Data SimpleItem.
std::string makeSimpleMessage(const std::string &utcTime, const std::string &propertyOperation,
                              const std::string &sourceName, const std::string &sourceValue,
                              const std::string &dataName, const std::string &dataValue);

// A SOAP 1.2 Notify envelope around raw NotificationMessage texts, with a WS-Addressing
// header (Action with mustUnderstand="true", To, MessageID) and the usual ONVIF prefixes
// (tt, tns1, wsnt, wsa5, tev, wstop) declared on the Envelope.
std::string buildNotifyEnvelope(const std::vector<std::string> &notificationMessages,
                                const std::string &to);

// POST a Notify built by buildNotifyEnvelope to the consumer at url.
SendResult pushNotify(const std::string &url, const std::vector<std::string> &messages,
                      const SendOptions &options = {});

// Every NotificationMessage element of an XML text, raw from its start tag to its end tag.
std::vector<std::string> extractNotificationMessages(const std::string &xml);

// Read a corpus notify file: its NotificationMessage elements; if it has none, the first
// Message element wrapped into a NotificationMessage with the given topic. Throws
// std::runtime_error if the file cannot be read or holds neither.
std::vector<std::string> loadNotificationMessages(const std::string &path,
                                                  const std::string &topicIfBare = {});

// TopicSet content (for Config::topicSetXml) that a camera sending these NotificationMessage
// texts would advertise: every topic, described by the Source, Key and Data items of its first
// message, each item's type what its value suggests (state word boolean, number xs:int, a
// ...Token Source or Key item tt:ReferenceToken, else xs:string).
std::string topicSetOfMessages(const std::vector<std::string> &notificationMessages);

// Read a whole file; throws std::runtime_error on failure.
std::string readFile(const std::string &path);

// Client-side helpers (for tests and tools): a WS-Security UsernameToken header element with
// a PasswordDigest for the given nonce bytes and Created text, and the digest itself.
std::string passwordDigest(const std::string &nonceBytes, const std::string &created,
                           const std::string &password);
std::string base64Encode(const std::string &bytes);
std::optional<std::string> base64Decode(const std::string &text);
std::string securityHeader(const std::string &user, const std::string &password,
                           const std::string &nonceBytes = "0123456789abcdef",
                           const std::string &created = "2026-12-10T01:02:03Z");

// xsd:dateTime of a time point, UTC, e.g. "2026-12-10T01:02:03Z".
std::string formatTime(std::chrono::system_clock::time_point time);

class CameraSim
{
  public:
    explicit CameraSim(Config config = {});
    ~CameraSim();
    CameraSim(const CameraSim &) = delete;
    CameraSim &operator=(const CameraSim &) = delete;

    // Bind 127.0.0.1:port and serve on a background thread. Throws std::runtime_error with a
    // clear message if the port cannot be bound or the topic-set file cannot be read.
    void start();
    void stop(); // idempotent; joins the server thread
    bool running() const;

    int port() const;
    std::string baseUrl() const;         // "http://127.0.0.1:<port>" (https:// with Config::tls)
    std::string eventServiceUrl() const; // baseUrl() + "/onvif/event_service"

    // Requests seen so far (copy) and a bounded wait until at least n were recorded.
    std::vector<RecordedRequest> requests() const;
    std::vector<RecordedRequest> requests(const std::string &operation) const;
    bool waitForRequests(size_t n, std::chrono::milliseconds timeout) const;
    void clearRequests();

    // Messages PullMessages hands out (raw NotificationMessage texts), oldest first. Each pull
    // point has its own queue: a message goes to every pull point's queue, or, while there is
    // none, to the next pull point created.
    void queueMessage(const std::string &notificationMessage);
    void queueMessage(const std::string &topic, const std::string &messageXml);
    // Only for pull point id; false when the simulator holds no such pull point.
    bool queueMessage(int pullPointId, const std::string &notificationMessage);
    size_t queuedMessages() const;
    // Sets a property's current state without queueing a message (queued messages with a
    // PropertyOperation set it too); SetSynchronizationPoint queues every state again as an
    // "Initialized" message.
    void setPropertyState(const std::string &topic, const std::string &messageXml);

    void setTopicSetXml(const std::string &xml); // same meaning as Config::topicSetXml

    std::vector<Subscription> subscriptions() const;
    std::optional<Subscription> subscription(int id) const;

    // Push a Notify to the consumer address of subscription id (from its Subscribe request).
    SendResult notify(int id, const std::vector<std::string> &messages,
                      const SendOptions &options = {}) const;

    const Config &config() const { return config_; }

  private:
    friend class CameraGroup;
    void loadTopics(); // throws when the topic-set file cannot be read
    // Ready to serve requests that arrive on a server of someone else's, at port.
    void prepare(int port);

    struct Impl;
    Config config_;
    std::unique_ptr<Impl> impl_;
};

// Several simulated cameras behind one port, as an encoder or a recorder of cameras shows them:
// camera k (from 1) serves under /camera/k (its event service at /camera/k/onvif/event_service)
// with requests, subscriptions, pull points and messages of its own. The first configuration's
// port, TLS and keep-alive settings serve them all.
class CameraGroup
{
  public:
    explicit CameraGroup(std::vector<Config> configs);
    ~CameraGroup();
    CameraGroup(const CameraGroup &) = delete;
    CameraGroup &operator=(const CameraGroup &) = delete;

    // As CameraSim::start and stop, for every camera at once.
    void start();
    void stop();

    int port() const;
    size_t size() const { return cameras_.size(); }
    // Camera index + 1 (index from 0); its URLs name the group's port.
    CameraSim &camera(size_t index) { return *cameras_.at(index); }
    const CameraSim &camera(size_t index) const { return *cameras_.at(index); }

    // The path prefix of camera index + 1.
    static std::string pathPrefix(size_t index);

  private:
    struct Impl;
    std::vector<std::unique_ptr<CameraSim>> cameras_;
    std::unique_ptr<Impl> impl_;
};

} // namespace camsim
