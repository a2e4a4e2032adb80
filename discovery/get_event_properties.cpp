// GetEventProperties: asks a camera's event service for its topic set and
// rebuilds the configuration's discovered templates and smart-report
// capabilities from it.
#include <cstring>

#include "discovery_internal.h"
#include "error_record.h"
#include "exchange.h"
#include "soapH.h"
#include "vek_log.h"

namespace
{

constexpr const char *kFunc = "VEK_Onvif_GetEventProperties";

constexpr vek::RequestRow kGetEventProperties = {
    kFunc,
    vek::Action::GetEventProperties,
    vek::Security::WhenUserGiven,
    vek::ReferenceKind::None,
    {"VEK_Onvif_EncryptHeader is failed.", vek::kHeaderEncFailed, false},
    nullptr,
    {"Failed to get device event information, url:%s.", vek::CallFailureLog::Form::Plain},
    {VEK_ONVIF_ERR_SOAP, 0},
};

uint32_t getEventProperties(const char *url, const char *user, const char *password,
                            OnvifAlarmCfg *cfg)
{
    if (cfg == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    // Whatever happens below, the old templates are gone.
    VEK_Onvif_Event_FreePropeAlarm(cfg);
    if (url == nullptr || url[0] == '\0' || user == nullptr || password == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }

    vek::Exchange exchange;
    // A camera's topic set may be long.
    exchange.setLimits({vek::kExchangeDeadline, vek::kMaxEventPropertiesBytes});
    struct _ns1__GetEventProperties request;
    struct _ns1__GetEventPropertiesResponse response;
    uint32_t result =
        exchange.send(kGetEventProperties, {url, user, password}, [&](struct soap *soap) {
            return soap_call___ns12__GetEventProperties(soap, url, nullptr, &request, &response);
        });
    if (result != VEK_ONVIF_OK) {
        return result;
    }
    const ns8__TopicSetType *topicSet = response.ns8__TopicSet;
    if (topicSet == nullptr || topicSet->__any == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc,
                "stGetEventPropertiesResponse.ns8__TopicSet is NULL, url:%s.", url);
        return VEK_ONVIF_OK;
    }
    uint32_t count = topicSet->__size > 0 ? static_cast<uint32_t>(topicSet->__size) : 0;
    char *text = nullptr;
    if (vek::assembleTopicSetText(count, topicSet->__any, &text) != VEK_ONVIF_OK) {
        return VEK_ONVIF_OK;
    }
    result = VEK_Onvif_Event_ParsePropeMsg(text, cfg);
    if (result != VEK_ONVIF_OK) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc,
                "VEK_Onvif_Event_ParsePropeMsg fail , ulIndex:%lu, Errorcode is %u.",
                static_cast<unsigned long>(count), result);
    }
    VEK_FREE(&text);
    return VEK_ONVIF_OK;
}

} // namespace

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_GetEventProperties(const char *url, const char *user,
                                                               const char *password,
                                                               OnvifAlarmCfg *cfg)
{
    vek::OperationRecord record(kFunc);
    return record.finish(getEventProperties(url, user, password, cfg));
}
