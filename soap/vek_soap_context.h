// The fixed settings every gSOAP context of the library carries.
#ifndef VEK_SOAP_CONTEXT_H
#define VEK_SOAP_CONTEXT_H

#include "stdsoap2.h"

namespace vek
{

constexpr int kEventTimeoutSeconds = 5;
// SOAP_IO_STORE | SOAP_IO_KEEPALIVE | SOAP_XML_INDENT, added to both modes.
constexpr soap_mode kEventModes = 0x2012;

void applyEventSettings(struct soap *soap, int timeoutSeconds);

} // namespace vek

#endif // VEK_SOAP_CONTEXT_H
