// Layout of the records shared with the recorder through vek_onvif_event.h.
//
// The recorder is built separately and passes these records by address, so
// a size or a member offset that moves silently breaks it. The expected
// values below are worked out by hand from the C alignment rules of the two
// targets: 32-bit ARM hard-float EABI (uint16_t at 2, uint32_t, int32_t and
// pointers at 4) and x86_64 (the same, except pointers: 8 bytes at 8). The
// host build and the armhf cross build (scripts/armhf.sh) both compile this
// file into the library, so either one stops on a change.
//
// Nothing here generates code.
#include <cstddef>

#include "vek_onvif_event.h"

namespace
{

constexpr bool kIlp32 = sizeof(void *) == 4;
static_assert(sizeof(void *) == 4 || sizeof(void *) == 8,
              "unknown target: pointers of 4 or 8 bytes");
static_assert(sizeof(uint32_t) == 4 && alignof(uint32_t) == 4, "uint32_t of 4 bytes at 4");
static_assert(sizeof(uint16_t) == 2 && alignof(uint16_t) == 2, "uint16_t of 2 bytes at 2");

// Expected value on the 32-bit target (ilp32) and on the 64-bit one (lp64).
constexpr std::size_t pick(std::size_t ilp32, std::size_t lp64)
{
    return kIlp32 ? ilp32 : lp64;
}

} // namespace

#define VEK_RECORD_SIZE(type, ilp32, lp64)                                                         \
    static_assert(sizeof(type) == pick(ilp32, lp64), "size of " #type " changed")
#define VEK_RECORD_ALIGN(type, ilp32, lp64)                                                        \
    static_assert(alignof(type) == pick(ilp32, lp64), "alignment of " #type " changed")
#define VEK_RECORD_OFFSET(type, member, ilp32, lp64)                                               \
    static_assert(offsetof(type, member) == pick(ilp32, lp64),                                     \
                  "offset of " #type "." #member " changed")

// ---- OnvifSimpleItem
VEK_RECORD_SIZE(OnvifSimpleItem, 80, 80);
VEK_RECORD_ALIGN(OnvifSimpleItem, 4, 4);
VEK_RECORD_OFFSET(OnvifSimpleItem, NameHasIndex, 0, 0);
VEK_RECORD_OFFSET(OnvifSimpleItem, ValueHasIndex, 4, 4);
VEK_RECORD_OFFSET(OnvifSimpleItem, NameIndex, 8, 8);
VEK_RECORD_OFFSET(OnvifSimpleItem, ValueIndex, 12, 12);
VEK_RECORD_OFFSET(OnvifSimpleItem, Name, 16, 16);
VEK_RECORD_OFFSET(OnvifSimpleItem, Value, 48, 48);

// ---- OnvifAlarmTemplate: 4-byte padding before each pointer but the first on lp64.
VEK_RECORD_SIZE(OnvifAlarmTemplate, 420, 448);
VEK_RECORD_ALIGN(OnvifAlarmTemplate, 4, 8);
VEK_RECORD_OFFSET(OnvifAlarmTemplate, AlarmType, 0, 0);
VEK_RECORD_OFFSET(OnvifAlarmTemplate, Topic, 4, 4);
VEK_RECORD_OFFSET(OnvifAlarmTemplate, SourceCount, 388, 388);
VEK_RECORD_OFFSET(OnvifAlarmTemplate, SourceItems, 392, 392);
VEK_RECORD_OFFSET(OnvifAlarmTemplate, KeyCount, 396, 400);
VEK_RECORD_OFFSET(OnvifAlarmTemplate, KeyItems, 400, 408);
VEK_RECORD_OFFSET(OnvifAlarmTemplate, DataCount, 404, 416);
VEK_RECORD_OFFSET(OnvifAlarmTemplate, DataItems, 408, 424);
VEK_RECORD_OFFSET(OnvifAlarmTemplate, ExtensionCount, 412, 432);
VEK_RECORD_OFFSET(OnvifAlarmTemplate, ExtensionItems, 416, 440);

// ---- OnvifSmartCaps
VEK_RECORD_SIZE(OnvifSmartCaps, 20, 20);
VEK_RECORD_ALIGN(OnvifSmartCaps, 4, 4);
VEK_RECORD_OFFSET(OnvifSmartCaps, ulSupportSmartData, 0, 0);
VEK_RECORD_OFFSET(OnvifSmartCaps, ulLineDetector, 4, 4);
VEK_RECORD_OFFSET(OnvifSmartCaps, ulFieldDetector, 8, 8);
VEK_RECORD_OFFSET(OnvifSmartCaps, ulFaceDetector, 12, 12);
VEK_RECORD_OFFSET(OnvifSmartCaps, ulCountAggregation, 16, 16);

// ---- OnvifChannelToken
VEK_RECORD_SIZE(OnvifChannelToken, 192, 192);
VEK_RECORD_ALIGN(OnvifChannelToken, 1, 1);
VEK_RECORD_OFFSET(OnvifChannelToken, PrimaryToken, 0, 0);
VEK_RECORD_OFFSET(OnvifChannelToken, SecondaryToken, 64, 64);

// ---- OnvifAlarmCfg: 4-byte padding before each pointer on lp64, 4 at the end.
VEK_RECORD_SIZE(OnvifAlarmCfg, 3236, 3256);
VEK_RECORD_ALIGN(OnvifAlarmCfg, 4, 8);
VEK_RECORD_OFFSET(OnvifAlarmCfg, aucCallerData, 0, 0);
VEK_RECORD_OFFSET(OnvifAlarmCfg, PresetAlarmCount, 128, 128);
VEK_RECORD_OFFSET(OnvifAlarmCfg, PresetAlarms, 132, 136);
VEK_RECORD_OFFSET(OnvifAlarmCfg, PropeAlarmCount, 136, 144);
VEK_RECORD_OFFSET(OnvifAlarmCfg, pstPropeAlarmInfo, 140, 152);
VEK_RECORD_OFFSET(OnvifAlarmCfg, stSmartCaps, 144, 160);
VEK_RECORD_OFFSET(OnvifAlarmCfg, ChannelTokens, 164, 180);
static_assert(sizeof(OnvifAlarmCfg::ChannelTokens) == 16 * 192,
              "OnvifAlarmCfg.ChannelTokens holds 16 entries");

// ---- OnvifAlarmInput
VEK_RECORD_SIZE(OnvifAlarmInput, 76, 76);
VEK_RECORD_ALIGN(OnvifAlarmInput, 1, 1);
VEK_RECORD_OFFSET(OnvifAlarmInput, aucCallerData, 0, 0);
VEK_RECORD_OFFSET(OnvifAlarmInput, Token, 8, 8);
VEK_RECORD_OFFSET(OnvifAlarmInput, aucCallerTail, 72, 72);

// ---- OnvifAlarmInputList
VEK_RECORD_SIZE(OnvifAlarmInputList, 8, 16);
VEK_RECORD_ALIGN(OnvifAlarmInputList, 4, 8);
VEK_RECORD_OFFSET(OnvifAlarmInputList, InputCount, 0, 0);
VEK_RECORD_OFFSET(OnvifAlarmInputList, Inputs, 4, 8);

// ---- OnvifAlarmReport: AlarmType (uint16_t) fills the 2 bytes after the caller's 34.
VEK_RECORD_SIZE(OnvifAlarmReport, 60, 60);
VEK_RECORD_ALIGN(OnvifAlarmReport, 4, 4);
VEK_RECORD_OFFSET(OnvifAlarmReport, aucCallerData, 0, 0);
VEK_RECORD_OFFSET(OnvifAlarmReport, AlarmType, 34, 34);
VEK_RECORD_OFFSET(OnvifAlarmReport, Channel, 36, 36);
VEK_RECORD_OFFSET(OnvifAlarmReport, Reserved, 40, 40);
VEK_RECORD_OFFSET(OnvifAlarmReport, aucCallerMid, 44, 44);
VEK_RECORD_OFFSET(OnvifAlarmReport, ExtensionValue, 48, 48);
VEK_RECORD_OFFSET(OnvifAlarmReport, ObjectValue, 52, 52);
VEK_RECORD_OFFSET(OnvifAlarmReport, AttributeFlags, 56, 56);

// ---- OnvifPullResult
VEK_RECORD_SIZE(OnvifPullResult, 8, 16);
VEK_RECORD_ALIGN(OnvifPullResult, 4, 8);
VEK_RECORD_OFFSET(OnvifPullResult, pstAlarmReports, 0, 0);
VEK_RECORD_OFFSET(OnvifPullResult, ulAlarmCount, 4, 8);

// ---- OnvifHubReport: the report's members all align at 4 or less.
VEK_RECORD_SIZE(OnvifHubReport, 64, 64);
VEK_RECORD_ALIGN(OnvifHubReport, 4, 4);
VEK_RECORD_OFFSET(OnvifHubReport, ulCameraId, 0, 0);
VEK_RECORD_OFFSET(OnvifHubReport, stReport, 4, 4);

// ---- OnvifSubInfo
VEK_RECORD_SIZE(OnvifSubInfo, 520, 520);
VEK_RECORD_ALIGN(OnvifSubInfo, 4, 4);
VEK_RECORD_OFFSET(OnvifSubInfo, ulCommonAlarmSub, 0, 0);
VEK_RECORD_OFFSET(OnvifSubInfo, ulSmartDataSub, 4, 4);
VEK_RECORD_OFFSET(OnvifSubInfo, szCommonSubAddr, 8, 8);
VEK_RECORD_OFFSET(OnvifSubInfo, szCommonSubRef, 136, 136);
VEK_RECORD_OFFSET(OnvifSubInfo, szSmartSubAddr, 264, 264);
VEK_RECORD_OFFSET(OnvifSubInfo, szSmartSubRef, 392, 392);

// ---- OnvifDevAccess
VEK_RECORD_SIZE(OnvifDevAccess, 384, 384);
VEK_RECORD_ALIGN(OnvifDevAccess, 1, 1);
VEK_RECORD_OFFSET(OnvifDevAccess, szEventUrl, 0, 0);
VEK_RECORD_OFFSET(OnvifDevAccess, szUserName, 256, 256);
VEK_RECORD_OFFSET(OnvifDevAccess, szPassword, 320, 320);

// ---- OnvifErrorInfo: int64_t sits at 8 on both targets (ARM EABI aligns it
// like x86_64), so s64ClockOffset moves from 380 to 384 and the size rounds
// up to 464.
VEK_RECORD_SIZE(OnvifErrorInfo, 464, 464);
VEK_RECORD_ALIGN(OnvifErrorInfo, 8, 8);
VEK_RECORD_OFFSET(OnvifErrorInfo, szOperation, 0, 0);
VEK_RECORD_OFFSET(OnvifErrorInfo, ulResult, 48, 48);
VEK_RECORD_OFFSET(OnvifErrorInfo, ulKind, 52, 52);
VEK_RECORD_OFFSET(OnvifErrorInfo, ulHttpStatus, 56, 56);
VEK_RECORD_OFFSET(OnvifErrorInfo, szFaultSubcode, 60, 60);
VEK_RECORD_OFFSET(OnvifErrorInfo, szReason, 124, 124);
VEK_RECORD_OFFSET(OnvifErrorInfo, s64ClockOffset, 384, 384);
VEK_RECORD_OFFSET(OnvifErrorInfo, ulAttempts, 392, 392);
VEK_RECORD_OFFSET(OnvifErrorInfo, szTlsFingerprint, 396, 396);

// ---- SHA1State
VEK_RECORD_SIZE(SHA1State, 104, 104);
VEK_RECORD_ALIGN(SHA1State, 4, 4);
VEK_RECORD_OFFSET(SHA1State, Intermediate_Hash, 0, 0);
VEK_RECORD_OFFSET(SHA1State, Length_Low, 20, 20);
VEK_RECORD_OFFSET(SHA1State, Length_High, 24, 24);
VEK_RECORD_OFFSET(SHA1State, Message_Block, 28, 28);
VEK_RECORD_OFFSET(SHA1State, Message_Block_Index, 92, 92);
VEK_RECORD_OFFSET(SHA1State, Computed, 96, 96);
VEK_RECORD_OFFSET(SHA1State, Corrupted, 100, 100);
