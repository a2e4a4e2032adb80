// The topic and message of one notification message holder as the
// translation reads them. Text that is not whitespace between the holder's
// elements makes the runtime keep the holder's content from that text on
// as literal XML (its mixed member) rather than as Topic and Message; the
// two are then read back from that literal, as if the text were not there.
#ifndef VEK_ALARM_HOLDER_CONTENT_H
#define VEK_ALARM_HOLDER_CONTENT_H

#include <string>

#include "soapH.h"

namespace vek::alarm
{

class HolderContent
{
  public:
    explicit HolderContent(const ns7__NotificationMessageHolderType &holder);
    HolderContent(const HolderContent &) = delete;
    HolderContent &operator=(const HolderContent &) = delete;

    // The holder to translate: the original one, or a copy whose Topic and
    // Message were read back from the mixed content.
    const ns7__NotificationMessageHolderType &holder() const { return holder_; }

  private:
    ns7__NotificationMessageHolderType holder_;
    ns7__TopicExpressionType topic_;
    std::string topicText_;
    std::string messageText_;
};

} // namespace vek::alarm

#endif // VEK_ALARM_HOLDER_CONTENT_H
