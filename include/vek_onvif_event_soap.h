/*
 * The parts of the interface that need gSOAP's own header: the namespace
 * table that fixes the prefixes of the event-service bindings. A caller that
 * makes its own gSOAP contexts for the pull-point operations may register
 * this table; VEK_Onvif_Event_Init already does.
 */
#ifndef VEK_ONVIF_EVENT_SOAP_H
#define VEK_ONVIF_EVENT_SOAP_H

#include "stdsoap2.h"
#include "vek_onvif_event.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Prefix and namespace of every element the bindings read or write: 25
 * rows and a terminating row of nulls. Read only; a context registers it
 * with soap_set_namespaces. */
VEK_ONVIF_API extern struct Namespace eventNamespaces[];

#ifdef __cplusplus
}
#endif

#endif /* VEK_ONVIF_EVENT_SOAP_H */
