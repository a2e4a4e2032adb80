// One notification message through the translation's steps: prefixes
// stripped, VEK_Onvif_Event_ParseAlarmMsg, then VEK_Onvif_Event_MatchAlarmType
// against the templates a real camera's topic set gives, then everything
// freed. Input: the topic (everything before the first '<') followed by the
// Message element.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fixture_files.h"
#include "fixture_topic_set.h"
#include "support.h"
#include "vek_onvif_event.h"
#include "vek_platform_ctl.h"

namespace
{
OnvifAlarmCfg g_cfg{};
OnvifAlarmInput g_inputs[2]{};
OnvifAlarmInputList g_inputList{};
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    vekfuzz::silenceLog();
    const std::string text =
        vekfix::topicSetText(vekfix::readFixture("corpus/properties/topicset-01.xml"));
    if (text.empty() || VEK_Onvif_Event_ParsePropeMsg(text.c_str(), &g_cfg) != 0 ||
        g_cfg.PropeAlarmCount == 0) {
        std::fprintf(stderr, "no templates from topicset-01.xml\n");
        std::abort();
    }
    for (int k = 0; k < 4; ++k) {
        std::snprintf(g_cfg.ChannelTokens[k].PrimaryToken, 64, "VideoSourceToken_%d", k + 1);
        std::snprintf(g_cfg.ChannelTokens[k].SecondaryToken, 128, "VideoAnalyticsToken_%d", k + 1);
    }
    vekfix::copyText(g_inputs[0].Token, "AlarmIn_1");
    vekfix::copyText(g_inputs[1].Token, "AlarmIn_2");
    g_inputList.InputCount = 2;
    g_inputList.Inputs = g_inputs;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    auto text = vekfuzz::terminatedCopy(data, size);
    const uint32_t before = VEK_PLAT_GetLiveBlocks();

    OnvifAlarmTemplate alarm{};
    char *message = std::strchr(text.get(), '<');
    if (message == nullptr) {
        return 0;
    }
    const size_t topicLength = static_cast<size_t>(message - text.get());
    std::snprintf(
        alarm.Topic, sizeof alarm.Topic, "%.*s",
        static_cast<int>(topicLength < sizeof alarm.Topic ? topicLength : sizeof alarm.Topic - 1),
        text.get());
    // The translation refuses a text it cannot strip; the parser is still
    // worth feeding with it.
    VEK_PUB_DeleteNodeProperty(message);
    uint32_t result = VEK_Onvif_Event_ParseAlarmMsg(
        message, &alarm.SourceCount, &alarm.KeyCount, &alarm.DataCount, &alarm.ExtensionCount,
        &alarm.SourceItems, &alarm.KeyItems, &alarm.DataItems, &alarm.ExtensionItems);
    if (result == 0) {
        OnvifAlarmReport report{};
        VEK_Onvif_Event_MatchAlarmType(&g_cfg, &g_inputList, &alarm, &report);
        ZU_MEM_FreeEx(reinterpret_cast<void **>(&alarm.SourceItems), __FILE__, __LINE__);
        ZU_MEM_FreeEx(reinterpret_cast<void **>(&alarm.KeyItems), __FILE__, __LINE__);
        ZU_MEM_FreeEx(reinterpret_cast<void **>(&alarm.DataItems), __FILE__, __LINE__);
        ZU_MEM_FreeEx(reinterpret_cast<void **>(&alarm.ExtensionItems), __FILE__, __LINE__);
    }
    vekfuzz::expectLiveBlocks(before, "ParseAlarmMsg + MatchAlarmType");
    return 0;
}
