// VEK_Onvif_Event_ParsePropeMsg on a topic-set text, then
// VEK_Onvif_Event_FreePropeAlarm: every template and item array goes back.
#include <cstdlib>

#include "support.h"
#include "vek_onvif_event.h"
#include "vek_platform_ctl.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    vekfuzz::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    auto text = vekfuzz::terminatedCopy(data, size);
    const uint32_t before = VEK_PLAT_GetLiveBlocks();
    OnvifAlarmCfg cfg{};
    VEK_Onvif_Event_ParsePropeMsg(text.get(), &cfg);
    if (cfg.PropeAlarmCount != 0 && cfg.pstPropeAlarmInfo == nullptr) {
        std::abort();
    }
    // Read every item the templates claim to have (ASan checks the bounds).
    volatile char sink = 0;
    for (uint32_t i = 0; i < cfg.PropeAlarmCount; ++i) {
        const OnvifAlarmTemplate &t = cfg.pstPropeAlarmInfo[i];
        const struct {
            uint32_t count;
            const OnvifSimpleItem *items;
        } parts[] = {{t.SourceCount, t.SourceItems},
                     {t.KeyCount, t.KeyItems},
                     {t.DataCount, t.DataItems},
                     {t.ExtensionCount, t.ExtensionItems}};
        for (const auto &part : parts) {
            for (uint32_t k = 0; k < part.count; ++k) {
                sink = sink ^ part.items[k].Name[31] ^ part.items[k].Value[31];
            }
        }
    }
    VEK_Onvif_Event_FreePropeAlarm(&cfg);
    vekfuzz::expectLiveBlocks(before, "ParsePropeMsg + FreePropeAlarm");
    return 0;
}
