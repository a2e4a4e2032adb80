// The discovered templates of a configuration: appending one, and releasing
// all of them with their item arrays.
#include <cstring>

#include "discovery_internal.h"
#include "vek_log.h"

namespace vek
{

void releaseTemplateItems(OnvifAlarmTemplate *templ)
{
    VEK_FREE(&templ->SourceItems);
    VEK_FREE(&templ->KeyItems);
    VEK_FREE(&templ->DataItems);
    VEK_FREE(&templ->ExtensionItems);
    templ->SourceCount = 0;
    templ->KeyCount = 0;
    templ->DataCount = 0;
    templ->ExtensionCount = 0;
}

bool allocateTemplates(OnvifAlarmCfg *cfg, size_t count, const char *func)
{
    const size_t bytes = sizeof(OnvifAlarmTemplate) * count;
    auto *templates = static_cast<OnvifAlarmTemplate *>(VEK_ALLOC(bytes));
    if (templates == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_NOMEM, func,
                "Failed to malloc pstPropeAlarmInfo memory.");
        return false;
    }
    std::memset(templates, 0, bytes);
    cfg->pstPropeAlarmInfo = templates;
    return true;
}

} // namespace vek

extern "C" {

// The array was sized by the walk's count, which bounds the appends.
VEK_ONVIF_API uint32_t VEK_Onvif_AddToCFGAlarm(const OnvifAlarmTemplate *templ, OnvifAlarmCfg *cfg)
{
    if (templ == nullptr || cfg == nullptr || cfg->pstPropeAlarmInfo == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, "VEK_Onvif_AddToCFGAlarm",
                "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    ZU_memcpy(&cfg->pstPropeAlarmInfo[cfg->PropeAlarmCount], templ, sizeof *templ);
    ++cfg->PropeAlarmCount;
    return VEK_ONVIF_OK;
}

VEK_ONVIF_API void VEK_Onvif_Event_FreePropeAlarm(OnvifAlarmCfg *cfg)
{
    if (cfg == nullptr) {
        return;
    }
    if (cfg->pstPropeAlarmInfo != nullptr) {
        for (uint32_t i = 0; i < cfg->PropeAlarmCount; ++i) {
            vek::releaseTemplateItems(&cfg->pstPropeAlarmInfo[i]);
        }
        VEK_FREE(&cfg->pstPropeAlarmInfo);
    }
    cfg->PropeAlarmCount = 0;
}

} // extern "C"
