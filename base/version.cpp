// The library's version string, fixed at build time from the VERSION file.
#include "vek_onvif_event.h"

extern "C" VEK_ONVIF_API const char *VEK_Onvif_GetVersion(void)
{
    return VEK_ONVIF_EVENT_VERSION;
}
