// Settings shared by the event context and the listener's local context.
#include "vek_onvif_event_soap.h"
#include "vek_soap_context.h"

namespace vek
{

void applyEventSettings(struct soap *soap, int timeoutSeconds)
{
    soap->recv_timeout = timeoutSeconds;
    soap->send_timeout = timeoutSeconds;
    soap->connect_timeout = timeoutSeconds;
    soap->accept_timeout = timeoutSeconds;
    soap_set_namespaces(soap, eventNamespaces);
    soap->imode |= kEventModes;
    soap->omode |= kEventModes;
}

} // namespace vek
