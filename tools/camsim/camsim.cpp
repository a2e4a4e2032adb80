// Server side of the simulator: SOAP request parsing, authentication, the event service,
// subscription managers and pull points.
#include "camsim.h"
#include "xml_text.h"

#include <httplib.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace camsim
{

using namespace detail;

namespace
{

constexpr const char *kEventPath = "/onvif/event_service";
constexpr const char *kSubscriptionPath = "/onvif/subscription/";
constexpr const char *kPullPointPath = "/onvif/pullpoint/";

constexpr const char *kBuiltInTopics =
    R"(<tns1:RuleEngine wstop:topic="true"><CellMotionDetector wstop:topic="true">)"
    R"(<Motion wstop:topic="true"><tt:MessageDescription IsProperty="true"><tt:Source>)"
    R"(<tt:SimpleItemDescription Name="VideoSourceConfigurationToken" Type="tt:ReferenceToken"/>)"
    R"(<tt:SimpleItemDescription Name="VideoAnalyticsConfigurationToken" )"
    R"(Type="tt:ReferenceToken"/><tt:SimpleItemDescription Name="Rule" Type="xs:string"/>)"
    R"(</tt:Source><tt:Data><tt:SimpleItemDescription Name="IsMotion" Type="xs:boolean"/>)"
    R"(</tt:Data></tt:MessageDescription></Motion></CellMotionDetector>)"
    R"(<TamperDetector wstop:topic="true"><Tamper wstop:topic="true">)"
    R"(<tt:MessageDescription IsProperty="true"><tt:Source>)"
    R"(<tt:SimpleItemDescription Name="VideoSourceConfigurationToken" Type="tt:ReferenceToken"/>)"
    R"(</tt:Source><tt:Data><tt:SimpleItemDescription Name="IsTamper" Type="xs:boolean"/>)"
    R"(</tt:Data></tt:MessageDescription></Tamper></TamperDetector></tns1:RuleEngine>)"
    R"(<tns1:Device wstop:topic="true"><Trigger wstop:topic="true">)"
    R"(<DigitalInput wstop:topic="true"><tt:MessageDescription IsProperty="true"><tt:Source>)"
    R"(<tt:SimpleItemDescription Name="InputToken" Type="tt:ReferenceToken"/></tt:Source>)"
    R"(<tt:Data><tt:SimpleItemDescription Name="LogicalState" Type="xs:boolean"/></tt:Data>)"
    R"(</tt:MessageDescription></DigitalInput></Trigger></tns1:Device>)";

// Prefixes every answer declares on its Envelope.
const std::vector<std::pair<std::string, std::string>> &defaultNamespaces()
{
    static const std::vector<std::pair<std::string, std::string>> list = {
        {"SOAP-ENV", ns::kSoapEnv},
        {"wsa5", ns::kWsa5},
        {"wsnt", ns::kWsnt},
        {"wstop", ns::kWstop},
        {"tev", ns::kTev},
        {"tt", ns::kTt},
        {"tns1", ns::kTns1},
        {"ter", ns::kTer},
        {"xs", "http://www.w3.org/2001/XMLSchema"}};
    return list;
}

std::string actionParameter(const std::string &contentType)
{
    size_t p = contentType.find("action=");
    if (p == std::string::npos)
        return {};
    p += 7;
    if (p < contentType.size() && contentType[p] == '"') {
        size_t e = contentType.find('"', p + 1);
        return contentType.substr(p + 1, e == std::string::npos ? e : e - p - 1);
    }
    size_t e = contentType.find(';', p);
    return trim(contentType.substr(p, e == std::string::npos ? e : e - p));
}

bool isAddressingNs(const std::string &uri)
{
    return uri.find("addressing") != std::string::npos;
}

void collectLeaves(mxml_node_t *node, const std::string &prefix,
                   std::map<std::string, std::string> &out)
{
    for (mxml_node_t *c = firstChildElement(node); c; c = nextElement(c)) {
        std::string key = prefix.empty() ? nodeLocalName(c) : prefix + "/" + nodeLocalName(c);
        int count = mxmlElementGetAttrCount(c);
        for (int i = 0; i < count; ++i) {
            const char *name = nullptr;
            const char *value = mxmlElementGetAttrByIndex(c, i, &name);
            if (name && std::string_view(name).rfind("xmlns", 0) != 0)
                out.emplace(key + "@" + localName(name), value ? value : "");
        }
        if (firstChildElement(c))
            collectLeaves(c, key, out);
        else
            out.emplace(key, trim(textOf(c)));
    }
}

// xsd:duration (PnDTnHnMnS, fractions of seconds allowed) in seconds.
std::optional<std::chrono::seconds> parseDuration(const std::string &text)
{
    std::string s = trim(text);
    if (s.size() < 2 || s[0] != 'P')
        return std::nullopt;
    double total = 0, value = 0;
    bool inTime = false, haveNumber = false;
    std::string number;
    for (size_t i = 1; i < s.size(); ++i) {
        char c = s[i];
        if ((c >= '0' && c <= '9') || c == '.') {
            number += c;
            haveNumber = true;
            continue;
        }
        if (c == 'T') {
            inTime = true;
            continue;
        }
        if (!haveNumber)
            return std::nullopt;
        value = std::stod(number);
        number.clear();
        haveNumber = false;
        switch (c) {
        case 'Y':
            total += value * 365 * 86400;
            break;
        case 'D':
            total += value * 86400;
            break;
        case 'H':
            total += value * 3600;
            break;
        case 'M':
            total += inTime ? value * 60 : value * 30 * 86400;
            break;
        case 'S':
            total += value;
            break;
        default:
            return std::nullopt;
        }
    }
    if (haveNumber)
        return std::nullopt;
    return std::chrono::seconds(static_cast<long long>(total));
}

struct Fault {
    std::string code = "SOAP-ENV:Sender";
    std::string subcode;
    std::string reason;
};

} // namespace

struct CameraSim::Impl {
    const Config &cfg;
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    int port = 0;
    std::atomic<bool> running{false};
    std::atomic<bool> listening{false};
    bool stopping = false;

    mutable std::mutex mu;
    mutable std::condition_variable cv;
    std::vector<RecordedRequest> requests;
    std::deque<std::string> queue;
    std::map<int, Subscription> subs;
    int nextId = 1;
    std::string topicSource;

    explicit Impl(const Config &c) : cfg(c) {}

    std::chrono::system_clock::time_point now() const
    {
        return std::chrono::system_clock::now() + cfg.clockOffset;
    }

    std::string baseUrl() const
    {
        return "http://" + cfg.advertisedHost + ":" + std::to_string(port);
    }

    // Envelope start tag with the default prefixes plus `extra` (extra wins on a clash).
    std::string envelopeStart(const std::vector<std::pair<std::string, std::string>> &extra) const
    {
        std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SOAP-ENV:Envelope";
        for (const auto &[prefix, uri] : defaultNamespaces()) {
            bool overridden = prefix != "SOAP-ENV" &&
                              std::any_of(extra.begin(), extra.end(),
                                          [&](const auto &e) { return e.first == prefix; });
            if (!overridden)
                out += " xmlns:" + prefix + "=\"" + uri + "\"";
        }
        for (const auto &[prefix, quoted] : extra) {
            if (prefix == "SOAP-ENV")
                continue;
            out += prefix.empty() ? " xmlns=" : " xmlns:" + prefix + "=";
            out += quoted;
        }
        return out + ">";
    }

    std::string envelope(const std::string &action, const RecordedRequest &req,
                         const std::string &body,
                         const std::vector<std::pair<std::string, std::string>> &extra = {}) const
    {
        std::string out = envelopeStart(extra);
        out += "<SOAP-ENV:Header><wsa5:Action xmlns:wsa5=\"" + std::string(ns::kWsa5) + "\">" +
               action + "</wsa5:Action>";
        if (!req.wsaMessageId.empty())
            out += "<wsa5:RelatesTo xmlns:wsa5=\"" + std::string(ns::kWsa5) + "\">" +
                   escapeXml(req.wsaMessageId) + "</wsa5:RelatesTo>";
        out +=
            "</SOAP-ENV:Header><SOAP-ENV:Body>" + body + "</SOAP-ENV:Body></SOAP-ENV:Envelope>\n";
        return out;
    }

    static std::string faultBody(const Fault &f)
    {
        std::string out = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                      "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"") +
                          ns::kSoapEnv + "\" xmlns:ter=\"" + ns::kTer +
                          "\"><SOAP-ENV:Body><SOAP-ENV:Fault><SOAP-ENV:Code><SOAP-ENV:Value>" +
                          f.code + "</SOAP-ENV:Value>";
        if (!f.subcode.empty())
            out += "<SOAP-ENV:Subcode><SOAP-ENV:Value>" + f.subcode +
                   "</SOAP-ENV:Value></SOAP-ENV:Subcode>";
        out += "</SOAP-ENV:Code><SOAP-ENV:Reason><SOAP-ENV:Text xml:lang=\"en\">" +
               escapeXml(f.reason) +
               "</SOAP-ENV:Text></SOAP-ENV:Reason></SOAP-ENV:Fault></SOAP-ENV:Body>"
               "</SOAP-ENV:Envelope>\n";
        return out;
    }

    Reply fault(RecordedRequest &req, const std::string &subcode, const std::string &reason,
                bool sender = true) const
    {
        req.faultSubcode = subcode;
        Fault f{sender ? "SOAP-ENV:Sender" : "SOAP-ENV:Receiver", subcode, reason};
        return Reply{sender ? cfg.senderFaultStatus : 500, faultBody(f)};
    }

    // Fill the parsed parts of a recorded request; returns the Body element or nullptr.
    void parse(RecordedRequest &r)
    {
        XmlTree tree(r.rawBody);
        mxml_node_t *env = tree.ok() ? firstChildElement(tree.root()) : nullptr;
        if (!env || nodeLocalName(env) != "Envelope")
            return;
        mxml_node_t *header = childByLocal(env, "Header");
        mxml_node_t *body = childByLocal(env, "Body");
        if (!body)
            return;
        r.wellFormed = true;
        for (mxml_node_t *h = firstChildElement(header); h; h = nextElement(h)) {
            std::string ln = nodeLocalName(h);
            std::string uri = namespaceOf(h);
            if (ln == "Security") {
                r.hasSecurity = true;
                if (mxml_node_t *tok = childByLocal(h, "UsernameToken")) {
                    r.username = trim(textOf(childByLocal(tok, "Username")));
                    mxml_node_t *pw = childByLocal(tok, "Password");
                    r.password = trim(textOf(pw));
                    r.passwordType = pw ? attrByLocal(pw, "Type") : "";
                    r.nonce = trim(textOf(childByLocal(tok, "Nonce")));
                    r.created = trim(textOf(childByLocal(tok, "Created")));
                }
            } else if (isAddressingNs(uri)) {
                if (ln == "Action")
                    r.wsaAction = trim(textOf(h));
                else if (ln == "To")
                    r.wsaTo = trim(textOf(h));
                else if (ln == "MessageID")
                    r.wsaMessageId = trim(textOf(h));
                else if (ln == "ReplyTo")
                    r.wsaReplyTo = trim(textOf(childByLocal(h, "Address")));
            } else {
                r.referenceParameters.push_back(
                    HeaderElement{mxmlGetElement(h), ln, uri, textOf(h), serialize(h)});
            }
        }
        if (mxml_node_t *op = firstChildElement(body)) {
            r.operation = nodeLocalName(op);
            collectLeaves(op, "", r.body);
        }
        if (r.hasSecurity)
            r.authenticated = checkDigest(r);
    }

    bool checkDigest(const RecordedRequest &r) const
    {
        const std::string digestSuffix = "#PasswordDigest";
        if (r.username != cfg.user || r.passwordType.size() < digestSuffix.size() ||
            r.passwordType.compare(r.passwordType.size() - digestSuffix.size(), digestSuffix.size(),
                                   digestSuffix) != 0)
            return false;
        auto nonce = base64Decode(r.nonce);
        return nonce && !r.created.empty() &&
               passwordDigest(*nonce, r.created, cfg.password) == r.password;
    }

    std::string terminationFor(const std::string &requested) const
    {
        std::string t = trim(requested);
        if (t.empty())
            return formatTime(now() + cfg.defaultTermination);
        if (auto d = parseDuration(t))
            return formatTime(now() + *d);
        return t; // an absolute time is answered as requested
    }

    std::string referenceXml(const ReferenceOptions &opt, const std::string &wrapper,
                             const std::string &path, const Subscription &s) const
    {
        if (opt.omitReference)
            return {};
        std::string out = "<" + wrapper + ">";
        if (!opt.omitAddress) {
            std::string address = baseUrl() + path + std::to_string(s.id) + opt.addressSuffix;
            if (opt.longAddress)
                address += (address.find('?') == std::string::npos ? "?" : "&") +
                           std::string("pad=") + std::string(300, 'x');
            out += "<wsa5:Address>" + escapeXml(address) + "</wsa5:Address>";
        }
        if (opt.referenceParameters) {
            std::string q = cfg.idPrefix + ":" + cfg.idLocalName;
            out += "<wsa5:ReferenceParameters><" + q;
            if (opt.idDeclaration == IdDeclaration::OnElement)
                out += " xmlns:" + cfg.idPrefix + "=\"" + escapeXml(cfg.idNamespace) + "\"";
            out += opt.idTagExtra + ">" + std::string(opt.padId ? "\n        " : "") +
                   escapeXml(s.idText) + (opt.padId ? "   \n      " : "") + "</" + q +
                   "></wsa5:ReferenceParameters>";
        }
        return out + "</" + wrapper + ">";
    }

    std::vector<std::pair<std::string, std::string>> idDecl(const ReferenceOptions &opt) const
    {
        if (opt.omitReference || !opt.referenceParameters ||
            opt.idDeclaration != IdDeclaration::OnEnvelope)
            return {};
        return {{cfg.idPrefix, "\"" + escapeXml(cfg.idNamespace) + "\""}};
    }

    // A recorded body field, or empty; never adds the key to the record.
    static std::string bodyField(const RecordedRequest &req, const char *key)
    {
        auto found = req.body.find(key);
        return found == req.body.end() ? std::string() : found->second;
    }

    Reply createSubscription(RecordedRequest &req, bool pull)
    {
        const ReferenceOptions &opt = pull ? cfg.pullPoint : cfg.subscribe;
        Subscription s;
        s.pullPoint = pull;
        s.hasReferenceParameters = opt.referenceParameters && !opt.omitReference;
        s.initialTerminationTime = bodyField(req, "InitialTerminationTime");
        s.topicFilter = bodyField(req, "Filter/TopicExpression");
        if (!pull) {
            s.consumerAddress = bodyField(req, "ConsumerReference/Address");
            if (s.consumerAddress.empty())
                return fault(req, "ter:InvalidArgVal", "ConsumerReference Address missing");
        }
        s.terminationTime = terminationFor(s.initialTerminationTime);
        {
            std::lock_guard<std::mutex> lock(mu);
            s.id = nextId++;
            s.idText = std::to_string(s.id);
            subs[s.id] = s;
        }
        std::string times = "<wsnt:CurrentTime>" + formatTime(now()) +
                            "</wsnt:CurrentTime><wsnt:TerminationTime>" + s.terminationTime +
                            "</wsnt:TerminationTime>";
        if (pull) {
            std::string body = "<tev:CreatePullPointSubscriptionResponse>" +
                               referenceXml(opt, "tev:SubscriptionReference", kPullPointPath, s) +
                               times + "</tev:CreatePullPointSubscriptionResponse>";
            return Reply{200, envelope("http://www.onvif.org/ver10/events/wsdl/EventPortType/"
                                       "CreatePullPointSubscriptionResponse",
                                       req, body, idDecl(opt))};
        }
        std::string body = "<wsnt:SubscribeResponse>" +
                           referenceXml(opt, "wsnt:SubscriptionReference", kSubscriptionPath, s) +
                           times + "</wsnt:SubscribeResponse>";
        return Reply{200, envelope("http://docs.oasis-open.org/wsn/bw-2/NotificationProducer/"
                                   "SubscribeResponse",
                                   req, body, idDecl(opt))};
    }

    // Checks the subscription named by the path and the id header; fills `out` on success.
    std::optional<Reply> lookup(RecordedRequest &req, int id, bool pull, Subscription &out)
    {
        {
            std::lock_guard<std::mutex> lock(mu);
            auto it = subs.find(id);
            if (it == subs.end() || it->second.pullPoint != pull)
                return fault(req, "ter:ResourceUnknown", "no such subscription");
            out = it->second;
        }
        if (!out.hasReferenceParameters)
            return std::nullopt;
        auto hit =
            std::find_if(req.referenceParameters.begin(), req.referenceParameters.end(),
                         [&](const HeaderElement &h) { return h.localName == cfg.idLocalName; });
        if (hit == req.referenceParameters.end())
            return fault(req, "ter:InvalidArgVal", "subscription id header missing");
        if (hit->namespaceUri != cfg.idNamespace || trim(hit->text) != out.idText)
            return fault(req, "ter:ResourceUnknown", "subscription id header does not match");
        return std::nullopt;
    }

    Reply renew(RecordedRequest &req, int id, bool pull)
    {
        Subscription s;
        if (auto f = lookup(req, id, pull, s))
            return *f;
        std::string termination = terminationFor(bodyField(req, "TerminationTime"));
        {
            std::lock_guard<std::mutex> lock(mu);
            auto it = subs.find(id);
            if (it == subs.end())
                return fault(req, "ter:ResourceUnknown", "no such subscription");
            it->second.terminationTime = termination;
            ++it->second.renewCount;
        }
        std::string body = "<wsnt:RenewResponse><wsnt:TerminationTime>" + termination +
                           "</wsnt:TerminationTime><wsnt:CurrentTime>" + formatTime(now()) +
                           "</wsnt:CurrentTime></wsnt:RenewResponse>";
        return Reply{
            200, envelope("http://docs.oasis-open.org/wsn/bw-2/SubscriptionManager/RenewResponse",
                          req, body)};
    }

    Reply unsubscribe(RecordedRequest &req, int id, bool pull)
    {
        Subscription s;
        if (auto f = lookup(req, id, pull, s))
            return *f;
        {
            std::lock_guard<std::mutex> lock(mu);
            if (subs.erase(id) == 0)
                return fault(req, "ter:ResourceUnknown", "no such subscription");
        }
        return Reply{200, envelope("http://docs.oasis-open.org/wsn/bw-2/SubscriptionManager/"
                                   "UnsubscribeResponse",
                                   req, "<wsnt:UnsubscribeResponse/>")};
    }

    Reply pullMessages(RecordedRequest &req, int id)
    {
        Subscription s;
        if (auto f = lookup(req, id, true, s))
            return *f;
        long limit = 1;
        try {
            std::string l = bodyField(req, "MessageLimit");
            limit = l.empty() ? 1 : std::stol(l);
        } catch (const std::exception &) {
            return fault(req, "ter:InvalidArgVal", "bad MessageLimit");
        }
        auto timeout = parseDuration(bodyField(req, "Timeout")).value_or(std::chrono::seconds(0));
        auto wait = std::min<std::chrono::milliseconds>(timeout, cfg.maxPullWait);
        std::string messages;
        {
            std::unique_lock<std::mutex> lock(mu);
            cv.wait_for(lock, wait, [&] { return stopping || !queue.empty(); });
            for (long i = 0; i < limit && !queue.empty(); ++i) {
                messages += queue.front();
                queue.pop_front();
            }
        }
        std::string body = "<tev:PullMessagesResponse><tev:CurrentTime>" + formatTime(now()) +
                           "</tev:CurrentTime><tev:TerminationTime>" + s.terminationTime +
                           "</tev:TerminationTime>" + messages + "</tev:PullMessagesResponse>";
        return Reply{200, envelope("http://www.onvif.org/ver10/events/wsdl/PullPointSubscription/"
                                   "PullMessagesResponse",
                                   req, body)};
    }

    Reply synchronizationPoint(RecordedRequest &req, int id)
    {
        Subscription s;
        if (auto f = lookup(req, id, true, s))
            return *f;
        return Reply{200, envelope("http://www.onvif.org/ver10/events/wsdl/PullPointSubscription/"
                                   "SetSynchronizationPointResponse",
                                   req, "<tev:SetSynchronizationPointResponse/>")};
    }

    Reply eventProperties(RecordedRequest &req)
    {
        std::string source;
        {
            std::lock_guard<std::mutex> lock(mu);
            source = topicSource;
        }
        const std::string action =
            "http://www.onvif.org/ver10/events/wsdl/EventPortType/GetEventPropertiesResponse";
        if (auto span = findElement(source, "GetEventPropertiesResponse", 0)) {
            std::vector<std::pair<std::string, std::string>> decls;
            if (auto env = findElement(source, "Envelope", 0, false))
                decls = namespaceAttributes(
                    std::string_view(source).substr(env->begin, env->startTagEnd - env->begin));
            return Reply{200, envelope(action, req,
                                       source.substr(span->begin, span->end - span->begin), decls)};
        }
        std::string body =
            "<tev:GetEventPropertiesResponse><tev:TopicNamespaceLocation>"
            "http://www.onvif.org/onvif/ver10/topics/topicns.xml</tev:TopicNamespaceLocation>"
            "<wsnt:FixedTopicSet>true</wsnt:FixedTopicSet><wstop:TopicSet>" +
            (source.empty() ? std::string(kBuiltInTopics) : source) +
            "</wstop:TopicSet><wsnt:TopicExpressionDialect>"
            "http://www.onvif.org/ver10/tev/topicExpression/ConcreteSet"
            "</wsnt:TopicExpressionDialect><wsnt:TopicExpressionDialect>"
            "http://docs.oasis-open.org/wsn/t-1/TopicExpression/Concrete"
            "</wsnt:TopicExpressionDialect><tev:MessageContentFilterDialect>"
            "http://www.onvif.org/ver10/tev/messageContentFilter/ItemFilter"
            "</tev:MessageContentFilterDialect><tev:MessageContentSchemaLocation>"
            "http://www.onvif.org/onvif/ver10/schema/onvif.xsd"
            "</tev:MessageContentSchemaLocation></tev:GetEventPropertiesResponse>";
        return Reply{200, envelope(action, req, body)};
    }

    // Id from "<prefix><n>"; -1 when the path does not match.
    static int pathId(const std::string &path, const char *prefix)
    {
        std::string p = prefix;
        if (path.rfind(p, 0) != 0 || path.size() == p.size() || path.size() - p.size() > 9)
            return -1;
        std::string n = path.substr(p.size());
        if (n.find_first_not_of("0123456789") != std::string::npos)
            return -1;
        return std::stoi(n);
    }

    Reply dispatch(RecordedRequest &req)
    {
        const std::string &op = req.operation;
        if (req.path == kEventPath) {
            if (op == "GetEventProperties")
                return eventProperties(req);
            if (op == "Subscribe")
                return createSubscription(req, false);
            if (op == "CreatePullPointSubscription")
                return createSubscription(req, true);
        } else if (int id = pathId(req.path, kSubscriptionPath); id >= 0) {
            if (op == "Renew")
                return renew(req, id, false);
            if (op == "Unsubscribe")
                return unsubscribe(req, id, false);
        } else if (int pid = pathId(req.path, kPullPointPath); pid >= 0) {
            if (op == "PullMessages")
                return pullMessages(req, pid);
            if (op == "Renew")
                return renew(req, pid, true);
            if (op == "Unsubscribe")
                return unsubscribe(req, pid, true);
            if (op == "SetSynchronizationPoint")
                return synchronizationPoint(req, pid);
        } else {
            return Reply{404, "", "text/plain"};
        }
        return fault(req, "ter:ActionNotSupported",
                     "operation '" + op + "' not supported at " + req.path);
    }

    Reply handle(RecordedRequest &req)
    {
        parse(req);
        if (!req.wellFormed)
            return fault(req, "ter:WellFormed", "request is not a well-formed SOAP envelope");
        if (req.operation.empty())
            return fault(req, "ter:ActionNotSupported", "empty Body");
        if (cfg.requireAuth && !cfg.authExempt.count(req.operation) && !req.authenticated)
            return fault(req, "ter:NotAuthorized", "Sender not Authorized");
        if (cfg.interceptor)
            if (auto reply = cfg.interceptor(req))
                return *reply;
        return dispatch(req);
    }

    void serve(const httplib::Request &hreq, httplib::Response &hres)
    {
        RecordedRequest req;
        req.path = hreq.path;
        req.contentType = hreq.get_header_value("Content-Type");
        req.httpAction = actionParameter(req.contentType);
        req.rawBody = hreq.body;
        Reply reply = handle(req);
        req.responseStatus = reply.status;
        hres.status = reply.status;
        if (!reply.body.empty())
            hres.set_content(reply.body, reply.contentType.c_str());
        {
            std::lock_guard<std::mutex> lock(mu);
            requests.push_back(std::move(req));
        }
        cv.notify_all();
    }
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
    if (impl_->running)
        throw std::runtime_error("camsim: already running");
    if (!config_.topicSetXml.empty())
        impl_->topicSource = config_.topicSetXml;
    else if (!config_.topicSetFile.empty())
        impl_->topicSource = readFile(config_.topicSetFile);

    auto server = std::make_unique<httplib::Server>();
    server->set_read_timeout(2, 0);
    server->set_write_timeout(3, 0);
    // The server's keep-alive wait does not notice stop(): an open keep-alive connection delays
    // stop() by up to the keep-alive time-out. Without keepAlive every answer closes.
    if (config_.keepAlive) {
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
    server->Post(".*",
                 [this](const httplib::Request &q, httplib::Response &r) { impl_->serve(q, r); });
    int bound = -1;
    if (config_.port == 0)
        bound = server->bind_to_any_port("127.0.0.1");
    else if (server->bind_to_port("127.0.0.1", config_.port))
        bound = config_.port;
    if (bound <= 0)
        throw std::runtime_error("camsim: cannot bind 127.0.0.1:" + std::to_string(config_.port) +
                                 " (port in use or not permitted)");
    impl_->port = bound;
    {
        std::lock_guard<std::mutex> lock(impl_->mu);
        impl_->stopping = false;
    }
    impl_->server = std::move(server);
    impl_->listening = true;
    impl_->thread = std::thread([impl = impl_.get()] {
        impl->server->listen_after_bind();
        impl->listening = false;
    });
    // Server::stop() is a no-op until the accept loop runs: wait for it (bounded).
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!impl_->server->is_running() && impl_->listening &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    impl_->running = true;
}

void CameraSim::stop()
{
    if (!impl_->server)
        return;
    {
        std::lock_guard<std::mutex> lock(impl_->mu);
        impl_->stopping = true;
    }
    impl_->cv.notify_all();
    while (impl_->listening) { // repeat: a stop() racing the loop's start is lost
        impl_->server->stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (impl_->thread.joinable())
        impl_->thread.join();
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
    return "http://127.0.0.1:" + std::to_string(port());
}
std::string CameraSim::eventServiceUrl() const
{
    return baseUrl() + kEventPath;
}

std::vector<RecordedRequest> CameraSim::requests() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->requests;
}

std::vector<RecordedRequest> CameraSim::requests(const std::string &operation) const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    std::vector<RecordedRequest> out;
    for (const auto &r : impl_->requests)
        if (r.operation == operation)
            out.push_back(r);
    return out;
}

bool CameraSim::waitForRequests(size_t n, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(impl_->mu);
    return impl_->cv.wait_for(lock, timeout, [&] { return impl_->requests.size() >= n; });
}

void CameraSim::clearRequests()
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->requests.clear();
}

void CameraSim::queueMessage(const std::string &notificationMessage)
{
    {
        std::lock_guard<std::mutex> lock(impl_->mu);
        impl_->queue.push_back(notificationMessage);
    }
    impl_->cv.notify_all();
}

void CameraSim::queueMessage(const std::string &topic, const std::string &messageXml)
{
    queueMessage(makeNotificationMessage(topic, messageXml));
}

size_t CameraSim::queuedMessages() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->queue.size();
}

void CameraSim::setTopicSetXml(const std::string &xml)
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->topicSource = xml;
}

std::vector<Subscription> CameraSim::subscriptions() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    std::vector<Subscription> out;
    for (const auto &[id, s] : impl_->subs)
        out.push_back(s);
    return out;
}

std::optional<Subscription> CameraSim::subscription(int id) const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    auto it = impl_->subs.find(id);
    if (it == impl_->subs.end())
        return std::nullopt;
    return it->second;
}

SendResult CameraSim::notify(int id, const std::vector<std::string> &messages,
                             const SendOptions &options) const
{
    auto s = subscription(id);
    if (!s || s->consumerAddress.empty()) {
        SendResult r;
        r.error = "no subscription " + std::to_string(id) + " with a consumer address";
        return r;
    }
    return pushNotify(s->consumerAddress, messages, options);
}

} // namespace camsim
