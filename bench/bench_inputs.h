// Inputs of the benchmarks, built from the payload corpus the way the
// library would see them on the wire.
#ifndef VEK_BENCH_INPUTS_H
#define VEK_BENCH_INPUTS_H

#include <cstdint>
#include <string>
#include <vector>

#include "soapH.h"
#include "vek_onvif_event.h"

namespace vekbench
{

// Contents of a file below tests/fixtures/corpus.
std::string corpusFile(const std::string &relative);

// The topic-set text discovery walks for a GetEventProperties answer of the
// corpus: the answer parsed by the runtime and the element texts joined as
// VEK_Onvif_GetEventProperties joins them.
std::string topicSetText(const std::string &relative);

// Largest topic set of the corpus (by size of its topic-set text).
std::string largestTopicSetFile();

// One notification message as the runtime hands it to the translation.
struct MessageText {
    std::string topic;   // Topic text (may be empty)
    std::string message; // Message element text
};

// The notification messages of a Notify carrying the given raw
// NotificationMessage elements, parsed by the runtime from an HTTP POST.
std::vector<MessageText> parseNotify(const std::vector<std::string> &notificationMessages);

// NotificationMessage elements of corpus notify files, in the order given.
std::vector<std::string> corpusMessages(const std::vector<std::string> &files);

// A _ns7__Notify record over private copies of message texts. refresh()
// copies the original texts over the working copies (the translation
// rewrites them in place); it does not allocate.
class NotifyRecord
{
  public:
    explicit NotifyRecord(const std::vector<MessageText> &messages);
    NotifyRecord(const NotifyRecord &) = delete;
    NotifyRecord &operator=(const NotifyRecord &) = delete;

    void refresh();
    _ns7__Notify *get() { return &notify_; }
    // Working copy of the message text i (for the floor).
    char *messageText(std::size_t i) { return messages_[i].data(); }
    std::size_t size() const { return messages_.size(); }

  private:
    std::vector<std::string> originals_;
    std::vector<std::string> messages_;
    std::vector<std::string> topics_;
    std::vector<ns7__TopicExpressionType> topicRecords_;
    std::vector<ns7__NotificationMessageHolderType> holders_;
    _ns7__Notify notify_;
};

// A camera configuration whose discovered templates come from a corpus
// topic set; freed with the object.
struct Camera {
    explicit Camera(const std::string &topicSetFile);
    ~Camera();
    Camera(const Camera &) = delete;
    Camera &operator=(const Camera &) = delete;
    OnvifAlarmCfg cfg{};
    OnvifAlarmInput inputList[2]{};
    OnvifAlarmInputList inputs{};
};

// HTTP POST bytes of a Notify with these NotificationMessage elements.
std::string notifyPost(const std::string &url, const std::vector<std::string> &messages);

} // namespace vekbench

#endif // VEK_BENCH_INPUTS_H
