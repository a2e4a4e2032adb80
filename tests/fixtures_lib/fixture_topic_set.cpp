#include "fixture_topic_set.h"

#include "discovery_internal.h"
#include "vek_onvif_event_soap.h"
#include "vek_platform.h"
#include "vek_soap_context.h"

namespace vekfix
{

// soap_ is initialised by its constructor.
InMemorySoap::InMemorySoap(const std::string &bytes) : in_(bytes)
{
    soap_set_namespaces(&soap_, eventNamespaces);
    soap_.imode |= vek::kEventModes;
    soap_.is = &in_;
}

InMemorySoap::~InMemorySoap()
{
    soap_delete(&soap_, nullptr);
    soap_end(&soap_);
    soap_done(&soap_);
}

std::string httpAnswer(const std::string &body)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml; charset=utf-8\r\n"
           "Content-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

std::string topicSetText(const std::string &answer)
{
    InMemorySoap soap(httpAnswer(answer));
    _ns1__GetEventPropertiesResponse response;
    if (soap_recv___ns12__GetEventProperties(soap.get(), &response) != SOAP_OK ||
        response.ns8__TopicSet == nullptr || response.ns8__TopicSet->__any == nullptr) {
        return {};
    }
    char *text = nullptr;
    if (vek::assembleTopicSetText(static_cast<uint32_t>(response.ns8__TopicSet->__size),
                                  response.ns8__TopicSet->__any, &text) != 0) {
        return {};
    }
    std::string out(text);
    ZU_MEM_FreeEx(reinterpret_cast<void **>(&text), __FILE__, __LINE__);
    return out;
}

} // namespace vekfix
