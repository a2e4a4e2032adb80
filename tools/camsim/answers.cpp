// The simulator's SOAP answers.
#include "answers.h"
#include "xml_text.h"

#include <algorithm>

namespace camsim::detail
{

namespace
{

constexpr const char *kBuiltInTopics =
    R"(<tns1:RuleEngine wstop:topic="true"><CellMotionDetector wstop:topic="true">)"
    R"(<Motion wstop:topic="true"><tt:MessageDescription IsProperty="true"><tt:Source>)"
    R"(<tt:SimpleItemDescription Name="VideoSourceConfigurationToken" Type="tt:ReferenceToken"/>)"
    R"(<tt:SimpleItemDescription Name="VideoAnalyticsConfigurationToken" )"
    R"(Type="tt:ReferenceToken"/><tt:SimpleItemDescription Name="Rule" Type="xs:string"/>)"
    R"(</tt:Source><tt:Data><tt:SimpleItemDescription Name="IsMotion" Type="xs:boolean"/>)"
    R"(</tt:Data></tt:MessageDescription></Motion>)"
    R"(<Intrusion wstop:topic="true"><tt:MessageDescription IsProperty="true"><tt:Source>)"
    R"(<tt:SimpleItemDescription Name="VideoSourceConfigurationToken" Type="tt:ReferenceToken"/>)"
    R"(<tt:SimpleItemDescription Name="VideoAnalyticsConfigurationToken" )"
    R"(Type="tt:ReferenceToken"/><tt:SimpleItemDescription Name="Rule" Type="xs:string"/>)"
    R"(</tt:Source><tt:Data><tt:SimpleItemDescription Name="IsIntrusion" Type="xs:boolean"/>)"
    R"(</tt:Data></tt:MessageDescription></Intrusion>)"
    R"(<LineCross wstop:topic="true"><tt:MessageDescription IsProperty="true"><tt:Source>)"
    R"(<tt:SimpleItemDescription Name="VideoSourceConfigurationToken" Type="tt:ReferenceToken"/>)"
    R"(<tt:SimpleItemDescription Name="VideoAnalyticsConfigurationToken" )"
    R"(Type="tt:ReferenceToken"/><tt:SimpleItemDescription Name="Rule" Type="xs:string"/>)"
    R"(</tt:Source><tt:Data><tt:SimpleItemDescription Name="IsLineCross" Type="xs:boolean"/>)"
    R"(</tt:Data></tt:MessageDescription></LineCross></CellMotionDetector>)"
    R"(<PeopleDetector wstop:topic="true"><People wstop:topic="true">)"
    R"(<tt:MessageDescription IsProperty="true"><tt:Source>)"
    R"(<tt:SimpleItemDescription Name="VideoSourceConfigurationToken" Type="tt:ReferenceToken"/>)"
    R"(<tt:SimpleItemDescription Name="VideoAnalyticsConfigurationToken" )"
    R"(Type="tt:ReferenceToken"/><tt:SimpleItemDescription Name="Rule" Type="xs:string"/>)"
    R"(</tt:Source><tt:Data><tt:SimpleItemDescription Name="IsPeople" Type="xs:boolean"/>)"
    R"(</tt:Data></tt:MessageDescription></People></PeopleDetector>)"
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

constexpr const char *kXmlDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

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

// Envelope start tag with the default prefixes plus `extra` (extra wins on a clash, except for
// the SOAP-ENV prefix).
std::string envelopeStart(const NamespaceDeclarations &extra)
{
    std::string out = std::string(kXmlDeclaration) + "<SOAP-ENV:Envelope";
    for (const auto &[prefix, uri] : defaultNamespaces()) {
        bool overridden =
            prefix != "SOAP-ENV" && std::any_of(extra.begin(), extra.end(),
                                                [&](const auto &e) { return e.first == prefix; });
        if (!overridden) {
            out += " xmlns:" + prefix + "=\"" + uri + "\"";
        }
    }
    for (const auto &[prefix, quotedUri] : extra) {
        if (prefix == "SOAP-ENV") {
            continue;
        }
        out += prefix.empty() ? " xmlns=" : " xmlns:" + prefix + "=";
        out += quotedUri;
    }
    return out + ">";
}

// A 200 answer: the envelope with a WS-Addressing Action (and RelatesTo the request's
// MessageID) around body.
Reply answer(const std::string &action, const RecordedRequest &request, const std::string &body,
             const NamespaceDeclarations &extra = {})
{
    const std::string addressing = std::string(" xmlns:wsa5=\"") + ns::kWsa5 + "\"";
    std::string out = envelopeStart(extra);
    out += "<SOAP-ENV:Header><wsa5:Action" + addressing + ">" + action + "</wsa5:Action>";
    if (!request.wsaMessageId.empty()) {
        out += "<wsa5:RelatesTo" + addressing + ">" + escapeXml(request.wsaMessageId) +
               "</wsa5:RelatesTo>";
    }
    out += "</SOAP-ENV:Header><SOAP-ENV:Body>" + body + "</SOAP-ENV:Body></SOAP-ENV:Envelope>\n";
    return Reply{200, out};
}

std::string faultEnvelope(const std::string &subcode, const std::string &reason)
{
    std::string out = std::string(kXmlDeclaration) + "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"" +
                      ns::kSoapEnv + "\" xmlns:ter=\"" + ns::kTer +
                      "\"><SOAP-ENV:Body><SOAP-ENV:Fault><SOAP-ENV:Code><SOAP-ENV:Value>"
                      "SOAP-ENV:Sender</SOAP-ENV:Value>";
    if (!subcode.empty()) {
        out +=
            "<SOAP-ENV:Subcode><SOAP-ENV:Value>" + subcode + "</SOAP-ENV:Value></SOAP-ENV:Subcode>";
    }
    out += "</SOAP-ENV:Code><SOAP-ENV:Reason><SOAP-ENV:Text xml:lang=\"en\">" + escapeXml(reason) +
           "</SOAP-ENV:Text></SOAP-ENV:Reason></SOAP-ENV:Fault></SOAP-ENV:Body>"
           "</SOAP-ENV:Envelope>\n";
    return out;
}

std::string subscriptionAddress(const CreatedSubscription &created)
{
    const ReferenceOptions &options = created.options;
    std::string address =
        created.addressPrefix +
        (created.idInAddress ? std::to_string(created.subscription.id) : std::string()) +
        options.addressSuffix;
    if (options.longAddress) {
        address += (address.find('?') == std::string::npos ? "?" : "&") + std::string("pad=") +
                   std::string(300, 'x');
    }
    return address;
}

std::string referenceParameters(const Config &config, const CreatedSubscription &created)
{
    const ReferenceOptions &options = created.options;
    const std::string element = config.idPrefix + ":" + config.idLocalName;
    std::string out = "<wsa5:ReferenceParameters><" + element;
    if (options.idDeclaration == IdDeclaration::OnElement) {
        out += " xmlns:" + config.idPrefix + "=\"" + escapeXml(config.idNamespace) + "\"";
    }
    out += options.idTagExtra + ">" + std::string(options.padId ? "\n        " : "") +
           escapeXml(created.subscription.idText) + (options.padId ? "   \n      " : "") + "</" +
           element + "></wsa5:ReferenceParameters>";
    return out;
}

// The SubscriptionReference element named `wrapper`, shaped by the reference options.
std::string subscriptionReference(const Config &config, const CreatedSubscription &created,
                                  const std::string &wrapper)
{
    const ReferenceOptions &options = created.options;
    if (options.omitReference) {
        return {};
    }
    std::string out = "<" + wrapper + ">";
    if (!options.omitAddress) {
        out += "<wsa5:Address>" + escapeXml(subscriptionAddress(created)) + "</wsa5:Address>";
    }
    if (options.referenceParameters) {
        out += referenceParameters(config, created);
    }
    return out + "</" + wrapper + ">";
}

// The id element's namespace declaration when it belongs on the Envelope.
NamespaceDeclarations idDeclaration(const Config &config, const ReferenceOptions &options)
{
    if (options.omitReference || !options.referenceParameters ||
        options.idDeclaration != IdDeclaration::OnEnvelope) {
        return {};
    }
    return {{config.idPrefix, "\"" + escapeXml(config.idNamespace) + "\""}};
}

std::string subscriptionTimes(const CreatedSubscription &created)
{
    return "<wsnt:CurrentTime>" + created.currentTime +
           "</wsnt:CurrentTime><wsnt:TerminationTime>" + created.subscription.terminationTime +
           "</wsnt:TerminationTime>";
}

} // namespace

Reply senderFault(RecordedRequest &request, const Config &config, const std::string &subcode,
                  const std::string &reason)
{
    request.faultSubcode = subcode;
    return Reply{config.senderFaultStatus, faultEnvelope(subcode, reason)};
}

Reply subscribeAnswer(const RecordedRequest &request, const Config &config,
                      const CreatedSubscription &created)
{
    std::string body = "<wsnt:SubscribeResponse>" +
                       subscriptionReference(config, created, "wsnt:SubscriptionReference") +
                       subscriptionTimes(created) + "</wsnt:SubscribeResponse>";
    return answer("http://docs.oasis-open.org/wsn/bw-2/NotificationProducer/SubscribeResponse",
                  request, body, idDeclaration(config, created.options));
}

Reply createPullPointAnswer(const RecordedRequest &request, const Config &config,
                            const CreatedSubscription &created)
{
    std::string body = "<tev:CreatePullPointSubscriptionResponse>" +
                       subscriptionReference(config, created, "tev:SubscriptionReference") +
                       subscriptionTimes(created) + "</tev:CreatePullPointSubscriptionResponse>";
    return answer("http://www.onvif.org/ver10/events/wsdl/EventPortType/"
                  "CreatePullPointSubscriptionResponse",
                  request, body, idDeclaration(config, created.options));
}

Reply renewAnswer(const RecordedRequest &request, const std::string &terminationTime,
                  const std::string &currentTime)
{
    std::string body = "<wsnt:RenewResponse><wsnt:TerminationTime>" + terminationTime +
                       "</wsnt:TerminationTime><wsnt:CurrentTime>" + currentTime +
                       "</wsnt:CurrentTime></wsnt:RenewResponse>";
    return answer("http://docs.oasis-open.org/wsn/bw-2/SubscriptionManager/RenewResponse", request,
                  body);
}

Reply unsubscribeAnswer(const RecordedRequest &request)
{
    return answer("http://docs.oasis-open.org/wsn/bw-2/SubscriptionManager/UnsubscribeResponse",
                  request, "<wsnt:UnsubscribeResponse/>");
}

Reply pullMessagesAnswer(const RecordedRequest &request, const std::string &currentTime,
                         const std::string &terminationTime, const std::string &messages)
{
    std::string body = "<tev:PullMessagesResponse><tev:CurrentTime>" + currentTime +
                       "</tev:CurrentTime><tev:TerminationTime>" + terminationTime +
                       "</tev:TerminationTime>" + messages + "</tev:PullMessagesResponse>";
    return answer(
        "http://www.onvif.org/ver10/events/wsdl/PullPointSubscription/PullMessagesResponse",
        request, body);
}

Reply synchronizationPointAnswer(const RecordedRequest &request)
{
    return answer("http://www.onvif.org/ver10/events/wsdl/PullPointSubscription/"
                  "SetSynchronizationPointResponse",
                  request, "<tev:SetSynchronizationPointResponse/>");
}

Reply eventPropertiesAnswer(const RecordedRequest &request, const std::string &topicSource)
{
    const std::string action =
        "http://www.onvif.org/ver10/events/wsdl/EventPortType/GetEventPropertiesResponse";
    if (auto response = findElement(topicSource, "GetEventPropertiesResponse", 0)) {
        NamespaceDeclarations declarations;
        if (auto envelope = findElement(topicSource, "Envelope", 0, false)) {
            declarations = namespaceAttributes(
                std::string_view(topicSource)
                    .substr(envelope->begin, envelope->startTagEnd - envelope->begin));
        }
        return answer(action, request,
                      topicSource.substr(response->begin, response->end - response->begin),
                      declarations);
    }
    std::string body =
        "<tev:GetEventPropertiesResponse><tev:TopicNamespaceLocation>"
        "http://www.onvif.org/onvif/ver10/topics/topicns.xml</tev:TopicNamespaceLocation>"
        "<wsnt:FixedTopicSet>true</wsnt:FixedTopicSet><wstop:TopicSet>" +
        (topicSource.empty() ? std::string(kBuiltInTopics) : topicSource) +
        "</wstop:TopicSet><wsnt:TopicExpressionDialect>"
        "http://www.onvif.org/ver10/tev/topicExpression/ConcreteSet"
        "</wsnt:TopicExpressionDialect><wsnt:TopicExpressionDialect>"
        "http://docs.oasis-open.org/wsn/t-1/TopicExpression/Concrete"
        "</wsnt:TopicExpressionDialect><tev:MessageContentFilterDialect>"
        "http://www.onvif.org/ver10/tev/messageContentFilter/ItemFilter"
        "</tev:MessageContentFilterDialect><tev:MessageContentSchemaLocation>"
        "http://www.onvif.org/onvif/ver10/schema/onvif.xsd"
        "</tev:MessageContentSchemaLocation></tev:GetEventPropertiesResponse>";
    return answer(action, request, body);
}

} // namespace camsim::detail
