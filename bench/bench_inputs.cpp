#include "bench_inputs.h"

#include <cstring>
#include <stdexcept>

#include "camsim.h"
#include "fixture_files.h"
#include "fixture_topic_set.h"

namespace vekbench
{

std::string corpusFile(const std::string &relative)
{
    return vekfix::readFixture("corpus/" + relative);
}

std::string topicSetText(const std::string &relative)
{
    std::string text = vekfix::topicSetText(corpusFile(relative));
    if (text.empty()) {
        throw std::runtime_error("bench: no topic set in " + relative);
    }
    return text;
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
    vekfix::InMemorySoap soap(notifyPost(url, notificationMessages));
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
             camsim::loadNotificationMessages(vekfix::fixturePath("corpus/notify/" + file))) {
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
    vekfix::copyText(cfg.ChannelTokens[0].PrimaryToken, "VideoSourceToken");
    vekfix::copyText(inputList[0].Token, "AlarmIn_1");
    vekfix::copyText(inputList[1].Token, "AlarmIn_2");
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
