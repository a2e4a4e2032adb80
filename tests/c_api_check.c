/* Compiled as strict C99 against the public header and linked against the
 * shared library: proves the interface is plain C and that the library
 * loads with every symbol bound (LD_BIND_NOW). */
#include <stdio.h>
#include <string.h>

#include "vek_onvif_event.h"

/* The C compiler's view of a few shared records agrees with the layout the
 * library asserts (base/record_layout.cpp): an array of size -1 does not
 * compile. Pointers are 4 bytes on the recorder (armhf), 8 on x86_64. */
#define VEK_C_LAYOUT(name, cond) typedef char vek_layout_##name[(cond) ? 1 : -1]
#define VEK_BY_POINTER(ilp32, lp64) (sizeof(void *) == 4 ? (ilp32) : (lp64))
VEK_C_LAYOUT(report_size, sizeof(OnvifAlarmReport) == 60);
VEK_C_LAYOUT(report_alarm_type, offsetof(OnvifAlarmReport, AlarmType) == 34);
VEK_C_LAYOUT(simple_item_size, sizeof(OnvifSimpleItem) == 80);
VEK_C_LAYOUT(sha1_size, sizeof(SHA1State) == 104);
VEK_C_LAYOUT(template_size, sizeof(OnvifAlarmTemplate) == VEK_BY_POINTER(420, 448));
VEK_C_LAYOUT(template_key_items,
             offsetof(OnvifAlarmTemplate, KeyItems) == VEK_BY_POINTER(400, 408));
VEK_C_LAYOUT(cfg_size, sizeof(OnvifAlarmCfg) == VEK_BY_POINTER(3236, 3256));
VEK_C_LAYOUT(cfg_tokens, offsetof(OnvifAlarmCfg, ChannelTokens) == VEK_BY_POINTER(164, 180));
VEK_C_LAYOUT(pull_result_size, sizeof(OnvifPullResult) == VEK_BY_POINTER(8, 16));
VEK_C_LAYOUT(input_list_size, sizeof(OnvifAlarmInputList) == VEK_BY_POINTER(8, 16));
VEK_C_LAYOUT(error_info_size, sizeof(OnvifErrorInfo) == 464);
VEK_C_LAYOUT(error_info_clock, offsetof(OnvifErrorInfo, s64ClockOffset) == 384);
VEK_C_LAYOUT(error_info_fingerprint, offsetof(OnvifErrorInfo, szTlsFingerprint) == 396);

int main(void)
{
    SHA1State state;
    unsigned char digest[20];
    const unsigned char abc[] = "abc";
    static const unsigned char expected[20] = {0xa9, 0x99, 0x3e, 0x36, 0x47, 0x06, 0x81,
                                               0x6a, 0xba, 0x3e, 0x25, 0x71, 0x78, 0x50,
                                               0xc2, 0x6c, 0x9c, 0xd0, 0xd8, 0x9d};
    struct soap *ctx = NULL;
    char nonce[16];
    char header_version[16];

    /* The loaded library reports the version its header names. */
    snprintf(header_version, sizeof header_version, "%d.%d.%d", VEK_ONVIF_EVENT_VERSION_MAJOR,
             VEK_ONVIF_EVENT_VERSION_MINOR, VEK_ONVIF_EVENT_VERSION_PATCH);
    if (VEK_Onvif_GetVersion() == NULL ||
        strcmp(VEK_Onvif_GetVersion(), VEK_ONVIF_EVENT_VERSION) != 0 ||
        strcmp(header_version, VEK_ONVIF_EVENT_VERSION) != 0) {
        fprintf(stderr, "version mismatch: library %s, header %s\n",
                VEK_Onvif_GetVersion() ? VEK_Onvif_GetVersion() : "(null)",
                VEK_ONVIF_EVENT_VERSION);
        return 1;
    }

    /* The first nonce a freshly loaded library makes carries the counter's
     * starting value in characters 9 to 12. */
    if (__Onvif_CalcNonce(nonce) != 0 || strlen(nonce) != 15 || memcmp(nonce + 8, "ca53", 4) != 0) {
        fprintf(stderr, "first nonce of the process lacks the counter part ca53\n");
        return 1;
    }
    SHA1Reset(&state);
    SHA1Input(abc, 3, &state);
    if (SHA1ResultOut(&state, digest) != 0 || memcmp(digest, expected, 20) != 0) {
        fprintf(stderr, "SHA-1 through the C interface gave a wrong digest\n");
        return 1;
    }
    VEK_Onvif_Event_Init(&ctx);
    if (ctx == NULL) {
        fprintf(stderr, "no event context\n");
        return 1;
    }
    if (VEK_Onvif_HeaderEnc(VEK_ONVIF_ACTION_SUBSCRIBE, "http://127.0.0.1/onvif/event_service",
                            ctx) != VEK_ONVIF_OK) {
        fprintf(stderr, "addressing header failed\n");
        return 1;
    }
    VEK_Onvif_Event_Destroy(&ctx);
    {
        OnvifErrorInfo info;
        memset(&info, 0x5a, sizeof info);
        if (VEK_Onvif_GetLastError(&info) != VEK_ONVIF_OK || info.ulKind != VEK_ONVIF_FAIL_NONE ||
            info.szOperation[0] != '\0' || VEK_Onvif_GetLastError(NULL) != VEK_ONVIF_ERR_PARAM) {
            fprintf(stderr, "a fresh thread's error record is not empty\n");
            return 1;
        }
    }
    {
        /* Topic rules and templates from the table, through the C interface. */
        OnvifAlarmCfg cfg;
        memset(&cfg, 0, sizeof cfg);
        if (VEK_Onvif_AddTopicRule("tns1:Device/tnsexample:Light/Status", VEK_ALARM_MOTION,
                                   "state") != VEK_ONVIF_OK ||
            VEK_Onvif_AddTopicRule(NULL, VEK_ALARM_MOTION, NULL) != VEK_ONVIF_ERR_PARAM ||
            VEK_Onvif_Event_TemplatesFromTable(&cfg) != VEK_ONVIF_OK || cfg.PropeAlarmCount == 0 ||
            strcmp(cfg.pstPropeAlarmInfo[0].Topic, "tns1:Device/tnsexample:Light/Status") != 0) {
            fprintf(stderr, "topic rules or templates from the table failed\n");
            return 1;
        }
        VEK_Onvif_ClearTopicRules();
        VEK_Onvif_Event_FreePropeAlarm(&cfg);
    }
    return ctx == NULL ? 0 : 1;
}
