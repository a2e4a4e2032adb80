// Notify messages as a camera sends them: NotificationMessage and Message elements, the
// Notify envelope, and its push to a consumer.
#include "camsim.h"
#include "xml_text.h"

#include <cstdio>
#include <random>

namespace camsim
{

using detail::escapeXml;

std::string makeNotificationMessage(const std::string &topic, const std::string &messageXml,
                                    const std::string &dialect)
{
    return "<wsnt:NotificationMessage><wsnt:Topic Dialect=\"" + escapeXml(dialect) + "\">" +
           escapeXml(topic) + "</wsnt:Topic><wsnt:Message>" + messageXml +
           "</wsnt:Message></wsnt:NotificationMessage>";
}

std::string makeSimpleMessage(const std::string &utcTime, const std::string &propertyOperation,
                              const std::string &sourceName, const std::string &sourceValue,
                              const std::string &dataName, const std::string &dataValue)
{
    return "<tt:Message UtcTime=\"" + escapeXml(utcTime) + "\" PropertyOperation=\"" +
           escapeXml(propertyOperation) + "\"><tt:Source><tt:SimpleItem Name=\"" +
           escapeXml(sourceName) + "\" Value=\"" + escapeXml(sourceValue) +
           "\"/></tt:Source><tt:Data><tt:SimpleItem Name=\"" + escapeXml(dataName) + "\" Value=\"" +
           escapeXml(dataValue) + "\"/></tt:Data></tt:Message>";
}

namespace
{
std::string randomUuid()
{
    static thread_local std::mt19937_64 gen{std::random_device{}()};
    uint64_t high = gen();
    uint64_t low = gen();
    char text[64];
    std::snprintf(text, sizeof text, "urn:uuid:%08x-%04x-4%03x-%04x-%012llx",
                  static_cast<unsigned>(high >> 32), static_cast<unsigned>((high >> 16) & 0xffff),
                  static_cast<unsigned>(high & 0xfff),
                  static_cast<unsigned>(0x8000 | ((low >> 48) & 0x3fff)),
                  static_cast<unsigned long long>(low & 0xffffffffffffULL));
    return text;
}
} // namespace

std::string buildNotifyEnvelope(const std::vector<std::string> &notificationMessages,
                                const std::string &to)
{
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += std::string("<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"") + ns::kSoapEnv + "\" xmlns:wsa5=\"" +
           ns::kWsa5 + "\" xmlns:wsa=\"" + ns::kWsa5 + "\" xmlns:wsnt=\"" + ns::kWsnt +
           "\" xmlns:tev=\"" + ns::kTev + "\" xmlns:wstop=\"" + ns::kWstop + "\" xmlns:tt=\"" +
           ns::kTt + "\" xmlns:tns1=\"" + ns::kTns1 + "\">";
    out += "<SOAP-ENV:Header><wsa5:Action SOAP-ENV:mustUnderstand=\"true\">";
    out += ns::kNotifyAction;
    out += "</wsa5:Action><wsa5:To SOAP-ENV:mustUnderstand=\"true\">" + escapeXml(to) +
           "</wsa5:To><wsa5:MessageID>" + randomUuid() + "</wsa5:MessageID></SOAP-ENV:Header>";
    out += "<SOAP-ENV:Body><wsnt:Notify>";
    for (const std::string &message : notificationMessages) {
        out += message;
    }
    out += "</wsnt:Notify></SOAP-ENV:Body></SOAP-ENV:Envelope>\n";
    return out;
}

SendResult pushNotify(const std::string &url, const std::vector<std::string> &messages,
                      const SendOptions &options)
{
    return sendRaw(url, buildHttpPost(url, buildNotifyEnvelope(messages, url)), options);
}

std::vector<std::string> extractNotificationMessages(const std::string &xml)
{
    std::vector<std::string> out;
    size_t pos = 0;
    while (auto span = detail::findElement(xml, "NotificationMessage", pos)) {
        out.push_back(xml.substr(span->begin, span->end - span->begin));
        pos = span->end;
    }
    return out;
}

} // namespace camsim
