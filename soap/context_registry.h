// The contexts this library made (VEK_Onvif_Event_Init) and that are still
// alive. A function of the interface that takes a context checks it here
// first: a recorder's own gSOAP context, or one already destroyed, has
// another layout or no memory behind it and must not be read.
#ifndef VEK_CONTEXT_REGISTRY_H
#define VEK_CONTEXT_REGISTRY_H

#include <cstddef>

struct soap;

namespace vek
{

// At most this many contexts live at once (a recorder keeps a few per
// camera, and each operation one for its duration).
constexpr size_t kMaxLiveContexts = 65536;

// False when the registry is full.
bool registerContext(const struct soap *soap);
// False when soap was not registered.
bool unregisterContext(const struct soap *soap);
bool isLiveContext(const struct soap *soap);

// True for null (the caller's own argument check reports it) and for a
// live context of this library; otherwise logs "Not a context of this
// library." for func with VEK_ONVIF_ERR_PARAM and returns false.
bool acceptCallerContext(const struct soap *soap, const char *func);

} // namespace vek

#endif // VEK_CONTEXT_REGISTRY_H
