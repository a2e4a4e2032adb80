// Answers of the camera read by the real runtime from memory: the topic-set
// text discovery walks for a GetEventProperties answer, and a runtime
// context over any bytes for the fixtures that need one.
#ifndef VEK_FIXTURE_TOPIC_SET_H
#define VEK_FIXTURE_TOPIC_SET_H

#include <sstream>
#include <string>

#include "soapH.h"

namespace vekfix
{

// A runtime context reading from a string, set up like the library's own.
class InMemorySoap
{
  public:
    explicit InMemorySoap(const std::string &bytes);
    ~InMemorySoap();
    InMemorySoap(const InMemorySoap &) = delete;
    InMemorySoap &operator=(const InMemorySoap &) = delete;
    struct soap *get() { return &soap_; }

  private:
    std::istringstream in_;
    struct soap soap_;
};

// The bytes of a 200 answer carrying body.
std::string httpAnswer(const std::string &body);

// The text VEK_Onvif_GetEventProperties hands to the topic-set walk for
// this answer envelope: the answer parsed by the runtime and the elements
// of its TopicSet joined as the library joins them. Empty when the answer
// holds no topic set.
std::string topicSetText(const std::string &answer);

} // namespace vekfix

#endif // VEK_FIXTURE_TOPIC_SET_H
