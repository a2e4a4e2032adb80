#include "bench_inputs.h"

#include <cstring>
#include <sstream>
#include <stdexcept>

#include "camsim.h"
#include "discovery_internal.h"
#include "vek_onvif_event_soap.h"
#include "vek_platform.h"
#include "vek_soap_context.h"

namespace vekbench
{

namespace
{
// A runtime context reading from a string, set up like the library's own.
class InMemorySoap
{
  public:
    // soap_ is initialised by its constructor.
    explicit InMemorySoap(const std::string &bytes) : in_(bytes)
    {
        soap_set_namespaces(&soap_, eventNamespaces);
        soap_.imode |= vek::kEventModes;
        soap_.is = &in_;
    }
    ~InMemorySoap()
    {
        soap_delete(&soap_, nullptr);
        soap_end(&soap_);
        soap_done(&soap_);
    }
    InMemorySoap(const InMemorySoap &) = delete;
    InMemorySoap &operator=(const InMemorySoap &) = delete;
    struct soap *get() { return &soap_; }

  private:
    std::istringstream in_;
    struct soap soap_;
};

std::string httpAnswer(const std::string &body)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml; charset=utf-8\r\n"
           "Content-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}
} // namespace

std::string corpusFile(const std::string &relative)
{
    return camsim::readFile(std::string(VEK_CORPUS_DIR) + "/" + relative);
}

std::string topicSetText(const std::string &relative)
{
    InMemorySoap soap(httpAnswer(corpusFile(relative)));
    _ns1__GetEventPropertiesResponse response;
    if (soap_recv___ns12__GetEventProperties(soap.get(), &response) != SOAP_OK ||
        response.ns8__TopicSet == nullptr || response.ns8__TopicSet->__any == nullptr) {
        throw std::runtime_error("bench: no topic set in " + relative);
    }
    char *text = nullptr;
    if (vek::assembleTopicSetText(static_cast<uint32_t>(response.ns8__TopicSet->__size),
                                  response.ns8__TopicSet->__any, &text) != 0) {
        throw std::runtime_error("bench: topic-set text of " + relative);
    }
    std::string out(text);
    ZU_MEM_FreeEx(reinterpret_cast<void **>(&text), __FILE__, __LINE__);
    return out;
}

std::string largestTopicSetFile()
{
    std::string best;
    std::size_t bestSize = 0;
    for (const char *file :
         {"properties/topicset-01.xml", "properties/topicset-04.xml", "properties/topicset-05.xml",
          "properties/topicset-06.xml", "properties/topicset-07.xml"}) {
        std::size_t size = topicSetText(file).size();
        if (size > bestSize) {
            best = file;
            bestSize = size;
        }
    }
    return best;
}

std::vector<MessageText> parseNotify(const std::vector<std::string> &notificationMessages)
{
    const std::string url = "http://127.0.0.1:8080/onvif/notify";
    InMemorySoap soap(notifyPost(url, notificationMessages));
    __ns15__Notify notify;
    if (soap_recv___ns15__Notify(soap.get(), &notify) != SOAP_OK || notify.ns7__Notify == nullptr) {
        throw std::runtime_error("bench: Notify not parsed");
    }
    std::vector<MessageText> out;
    for (int i = 0; i < notify.ns7__Notify->__sizeNotificationMessage; ++i) {
        const ns7__NotificationMessageHolderType &h = notify.ns7__Notify->NotificationMessage[i];
        MessageText m;
        if (h.Topic != nullptr && h.Topic->__any != nullptr) {
            m.topic = h.Topic->__any;
        }
        if (h.Message.__any != nullptr) {
            m.message = h.Message.__any;
        }
        out.push_back(m);
    }
    return out;
}

std::vector<std::string> corpusMessages(const std::vector<std::string> &files)
{
    std::vector<std::string> out;
    for (const std::string &file : files) {
        for (std::string &m :
             camsim::loadNotificationMessages(std::string(VEK_CORPUS_DIR) + "/notify/" + file)) {
            out.push_back(std::move(m));
        }
    }
    return out;
}

NotifyRecord::NotifyRecord(const std::vector<MessageText> &messages)
{
    for (const MessageText &m : messages) {
        originals_.push_back(m.message);
        messages_.push_back(m.message);
        topics_.push_back(m.topic);
    }
    topicRecords_.resize(messages.size());
    holders_.resize(messages.size());
    for (std::size_t i = 0; i < messages.size(); ++i) {
        topicRecords_[i].__any = topics_[i].data();
        holders_[i].Topic = &topicRecords_[i];
        holders_[i].Message.__any = messages_[i].data();
    }
    notify_.__sizeNotificationMessage = static_cast<int>(holders_.size());
    notify_.NotificationMessage = holders_.data();
}

void NotifyRecord::refresh()
{
    for (std::size_t i = 0; i < originals_.size(); ++i) {
        std::memcpy(messages_[i].data(), originals_[i].c_str(), originals_[i].size() + 1);
    }
}

Camera::Camera(const std::string &topicSetFile)
{
    if (VEK_Onvif_Event_ParsePropeMsg(topicSetText(topicSetFile).c_str(), &cfg) != 0 ||
        cfg.PropeAlarmCount == 0) {
        throw std::runtime_error("bench: discovery found nothing in " + topicSetFile);
    }
    std::snprintf(cfg.ChannelTokens[0].PrimaryToken, sizeof cfg.ChannelTokens[0].PrimaryToken, "%s",
                  "VideoSourceToken");
    std::snprintf(inputList[0].Token, sizeof inputList[0].Token, "%s", "AlarmIn_1");
    std::snprintf(inputList[1].Token, sizeof inputList[1].Token, "%s", "AlarmIn_2");
    inputs.InputCount = 2;
    inputs.Inputs = inputList;
}

Camera::~Camera()
{
    VEK_Onvif_Event_FreePropeAlarm(&cfg);
}

std::string notifyPost(const std::string &url, const std::vector<std::string> &messages)
{
    return camsim::buildHttpPost(url, camsim::buildNotifyEnvelope(messages, url));
}

} // namespace vekbench
