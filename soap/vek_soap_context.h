// Internal helpers around gSOAP contexts: the fixed settings every context
// of the library carries, and a scope guard that destroys an event context
// on every way out of an operation.
#ifndef VEK_SOAP_CONTEXT_H
#define VEK_SOAP_CONTEXT_H

#include "stdsoap2.h"
#include "vek_onvif_event.h"

namespace vek
{

constexpr int kEventTimeoutSeconds = 5;
// SOAP_IO_STORE | SOAP_IO_KEEPALIVE | SOAP_XML_INDENT, added to both modes.
constexpr soap_mode kEventModes = 0x2012;

void applyEventSettings(struct soap *soap, int timeoutSeconds);

// Owns an event context made by VEK_Onvif_Event_Init; destroys it when the
// scope ends. get() is null when the context could not be created.
class EventContext
{
  public:
    EventContext() { VEK_Onvif_Event_Init(&soap_); }
    ~EventContext() { VEK_Onvif_Event_Destroy(&soap_); }
    EventContext(const EventContext &) = delete;
    EventContext &operator=(const EventContext &) = delete;

    struct soap *get() const { return soap_; }

  private:
    struct soap *soap_ = nullptr;
};

} // namespace vek

#endif // VEK_SOAP_CONTEXT_H
