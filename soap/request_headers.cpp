#include "request_headers.h"

#include "vek_log.h"
#include "vek_onvif_event.h"

namespace vek
{

uint32_t addRequestHeaders(struct soap *soap, const char *func, const char *user,
                           const char *password, Security security, Action action, const char *url,
                           const HeaderFailureLog &log)
{
    if (security == Security::Always || user[0] != '\0') {
        uint32_t code = writeSecurityHeader(user, password, soap);
        if (code != VEK_ONVIF_OK) {
            VEK_LOG(kLevelError, log.logStepCode ? code : VEK_ONVIF_ERR_FAIL, func, "%s",
                    log.securityText);
            return code;
        }
    }
    uint32_t code = writeAddressingHeader(actionUri(action), url, soap);
    if (code != VEK_ONVIF_OK) {
        VEK_LOG(kLevelError, log.logStepCode ? code : VEK_ONVIF_ERR_FAIL, func, "%s",
                log.addressingText);
    }
    return code;
}

} // namespace vek
