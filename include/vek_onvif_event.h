/*
 * libvek_onvif_event: ONVIF event service client for a network video recorder.
 *
 * Plain C interface (C99 and C++). Every record that crosses this interface
 * states below who allocates it and who frees it. All operations return an
 * unsigned 32-bit status (see VEK_ONVIF_*) unless they produce an array, in
 * which case they return the array (null for none) and write its count
 * through a pointer.
 *
 * Memory handed to the caller comes from the platform allocator
 * (ZU_MEM_MallocEx) and goes back through ZU_MEM_FreeEx, which takes the
 * address of the pointer variable.
 */
#ifndef VEK_ONVIF_EVENT_H
#define VEK_ONVIF_EVENT_H

#include <stddef.h>
#include <stdint.h>

#if defined(VEK_ONVIF_EVENT_BUILD)
#define VEK_ONVIF_API __attribute__((visibility("default")))
#else
#define VEK_ONVIF_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Status codes ------------------------------------------------------ */

/* Success; for Subscribe also "only the smart-data subscription failed" or
 * "nothing to do"; for GetEventProperties "the exchange succeeded". */
#define VEK_ONVIF_OK 0u
/* The SHA-1 state is corrupted. */
#define VEK_ONVIF_ERR_SHA1 1u
/* A SOAP exchange failed or its answer lacks what the operation needs; in
 * the translation: nothing usable. */
#define VEK_ONVIF_ERR_SOAP 100u
/* A null argument to an internal step. */
#define VEK_ONVIF_ERR_NULL 101u
/* Invalid argument; also a notification message that only reports the
 * initial state of a property ("Initialized"). */
#define VEK_ONVIF_ERR_PARAM 102u
/* Memory cannot be allocated. */
#define VEK_ONVIF_ERR_NOMEM 104u
/* The operation failed otherwise (no free port, refused or unmatched topic,
 * nothing to unsubscribe, answer without subscription reference). */
#define VEK_ONVIF_ERR_FAIL 112u

/* ---- Alarm type codes -------------------------------------------------- */
/* A code plus VEK_ALARM_INACTIVE_OFFSET is the same alarm in its inactive
 * state (1001: motion ended). */
#define VEK_ALARM_INACTIVE_OFFSET 1000u
#define VEK_ALARM_MOTION 1u
#define VEK_ALARM_TAMPER 3u
#define VEK_ALARM_DIGITAL_INPUT 4u
#define VEK_ALARM_SOUND 5u
#define VEK_ALARM_LINE_CROSSED 6u
#define VEK_ALARM_FACE_RECOGNISED 7u
#define VEK_ALARM_OBJECTS_INSIDE 8u
#define VEK_ALARM_IMAGE_BLURRY 9u
#define VEK_ALARM_SCENE_CHANGE_ANALYTICS 10u
#define VEK_ALARM_SMART_TRACKING 11u
#define VEK_ALARM_CARE_ARTICLE 15u
#define VEK_ALARM_REMAIN_ARTICLE 16u
#define VEK_ALARM_HUMAN_SHAPE 21u
#define VEK_ALARM_DOORBELL 22u
#define VEK_ALARM_NO_MASK 23u
#define VEK_ALARM_ABNORMAL_TEMPERATURE 24u
#define VEK_ALARM_ILLEGAL_LOGIN 404u
#define VEK_ALARM_ANALYTICS_CONFIG 418u
#define VEK_ALARM_FACE_ATTRIBUTES 2000u

/* OnvifAlarmReport.AttributeFlags bits (face-attribute alarms only). */
#define VEK_ALARM_FLAG_NO_MASK 0x1u
#define VEK_ALARM_FLAG_ABNORMAL_TEMPERATURE 0x2u

/* Subscription scope of VEK_Onvif_Subscribe and VEK_Onvif_Unsubscribe. */
#define VEK_ONVIF_SCOPE_BOTH 0u
#define VEK_ONVIF_SCOPE_COMMON 1u
#define VEK_ONVIF_SCOPE_SMART 2u

/* ---- Records ----------------------------------------------------------- */

/* One simple item of a template or of a parsed notification message. */
typedef struct OnvifSimpleItem {
    uint32_t NameHasIndex;
    uint32_t ValueHasIndex;
    int32_t NameIndex;
    int32_t ValueIndex;
    char Name[32];
    char Value[32];
} OnvifSimpleItem;

/* An alarm template (or a parsed alarm). Item arrays come from
 * ZU_MEM_MallocEx; a count of 0 goes with a null array. The arrays of a
 * template belong to the configuration that holds it. */
typedef struct OnvifAlarmTemplate {
    uint32_t AlarmType;
    char Topic[384];
    uint32_t SourceCount;
    OnvifSimpleItem *SourceItems;
    uint32_t KeyCount;
    OnvifSimpleItem *KeyItems;
    uint32_t DataCount;
    OnvifSimpleItem *DataItems;
    uint32_t ExtensionCount;
    OnvifSimpleItem *ExtensionItems;
} OnvifAlarmTemplate;

/* Smart-analytics HTTP reports a camera offers; only the value 1 means yes. */
typedef struct OnvifSmartCaps {
    uint32_t ulSupportSmartData;
    uint32_t ulLineDetector;
    uint32_t ulFieldDetector;
    uint32_t ulFaceDetector;
    uint32_t ulCountAggregation;
} OnvifSmartCaps;

/* Entry k of the channel token table stands for channel k + 1. */
typedef struct OnvifChannelToken {
    char PrimaryToken[64];
    char SecondaryToken[128];
} OnvifChannelToken;

/* A camera's alarm configuration, owned by the caller.
 * PresetAlarms: placed and freed by the caller; the library only reads it.
 * pstPropeAlarmInfo: built by discovery (VEK_Onvif_GetEventProperties) with
 * ZU_MEM_MallocEx, templates and item arrays alike; the next discovery or
 * VEK_Onvif_Event_FreePropeAlarm releases them. */
typedef struct OnvifAlarmCfg {
    unsigned char aucCallerData[128];
    uint32_t PresetAlarmCount;
    OnvifAlarmTemplate *PresetAlarms;
    uint32_t PropeAlarmCount;
    OnvifAlarmTemplate *pstPropeAlarmInfo;
    OnvifSmartCaps stSmartCaps;
    OnvifChannelToken ChannelTokens[16];
} OnvifAlarmCfg;

/* One alarm input of the camera; its position in the list is its number. */
typedef struct OnvifAlarmInput {
    unsigned char aucCallerData[8];
    char Token[64];
    unsigned char aucCallerTail[4];
} OnvifAlarmInput;

/* The camera's alarm inputs, owned by the caller. */
typedef struct OnvifAlarmInputList {
    uint32_t InputCount;
    OnvifAlarmInput *Inputs;
} OnvifAlarmInputList;

/* One translated alarm. Arrays of reports are allocated by the library
 * (ZU_MEM_MallocEx) and freed by the caller with ZU_MEM_FreeEx. */
typedef struct OnvifAlarmReport {
    unsigned char aucCallerData[34];
    uint16_t AlarmType;
    uint32_t Channel;
    uint32_t Reserved;
    unsigned char aucCallerMid[4];
    int32_t ExtensionValue;
    int32_t ObjectValue;
    uint32_t AttributeFlags;
} OnvifAlarmReport;

/* The reports of one pull. pstAlarmReports is null and ulAlarmCount 0 when
 * the pull gave none; otherwise the caller frees the array with
 * ZU_MEM_FreeEx. */
typedef struct OnvifPullResult {
    OnvifAlarmReport *pstAlarmReports;
    uint32_t ulAlarmCount;
} OnvifPullResult;

/* A camera's common-alarm and smart-data subscriptions, owned by the
 * caller. The library sets a flag to 1 on success and never back to 0: a
 * caller that subscribes again after Unsubscribe clears the record first. */
typedef struct OnvifSubInfo {
    uint32_t ulCommonAlarmSub;
    uint32_t ulSmartDataSub;
    char szCommonSubAddr[128];
    char szCommonSubRef[128];
    char szSmartSubAddr[128];
    char szSmartSubRef[128];
} OnvifSubInfo;

/* A camera's event-service address and credentials, owned by the caller.
 * An empty szUserName means requests carry no WS-Security header. */
typedef struct OnvifDevAccess {
    char szEventUrl[256];
    char szUserName[64];
    char szPassword[64];
} OnvifDevAccess;

/* State of one SHA-1 computation, owned by the caller. */
typedef struct SHA1State {
    uint32_t Intermediate_Hash[5];
    uint32_t Length_Low;
    uint32_t Length_High;
    unsigned char Message_Block[64];
    int32_t Message_Block_Index;
    int32_t Computed;
    int32_t Corrupted;
} SHA1State;

struct soap;
struct _ns7__Notify;
/* Mini-XML's node (mxml_node_t), declared without its typedef so that this
 * header and <mxml.h> can be included in any order. */
struct _mxml_node_s;

/* ---- Event SOAP context ------------------------------------------------ */

/* Creates an event SOAP context into *ctx (left unchanged on failure). */
VEK_ONVIF_API void VEK_Onvif_Event_Init(struct soap **ctx);
/* Releases the context held by *ctx and sets *ctx to null; null is accepted. */
VEK_ONVIF_API void VEK_Onvif_Event_Destroy(struct soap **ctx);

/* ---- Request headers --------------------------------------------------- */

VEK_ONVIF_API uint32_t VEK_Onvif_HeaderEnc(uint32_t action, const char *url, struct soap *soap);
VEK_ONVIF_API uint32_t VEK_Onvif_EncryptHeader(const char *user, const char *password,
                                               struct soap *soap);
VEK_ONVIF_API uint32_t __Onvif_CalcNonce(char *nonce16);
VEK_ONVIF_API uint32_t __Onvif_CalcDigest(const char *created, const unsigned char *nonce,
                                          uint32_t nonceLen, const char *password,
                                          unsigned char *digest20);

/* ---- SHA-1 ------------------------------------------------------------- */

VEK_ONVIF_API void SHA1Reset(SHA1State *state);
VEK_ONVIF_API void SHA1Input(const unsigned char *data, uint32_t len, SHA1State *state);
/* 1 when the digest is in Intermediate_Hash, 0 when the state is corrupted. */
VEK_ONVIF_API int SHA1Result(SHA1State *state);
/* 0 when the 20 digest bytes were written, 1 when the state is corrupted. */
VEK_ONVIF_API int SHA1ResultOut(SHA1State *state, unsigned char *out20);
VEK_ONVIF_API void SHA1PadMessage(SHA1State *state);
VEK_ONVIF_API void SHA1ProcessMessageBlock(SHA1State *state);

/* ---- Subscription ------------------------------------------------------ */

/* Binds the listening socket (written to *sockFd, owned by the caller until
 * VEK_Onvif_Unsubscribe closes it) and subscribes at the camera. */
VEK_ONVIF_API uint32_t VEK_Onvif_Subscribe(void *localKey, uint32_t scope, OnvifDevAccess *access,
                                           OnvifSmartCaps *caps, int32_t *sockFd,
                                           OnvifSubInfo *subInfo);
VEK_ONVIF_API uint32_t VEK_Onvif_Renew(const char *subAddr, const char *subRef, const char *user,
                                       const char *password);
VEK_ONVIF_API uint32_t VEK_Onvif_Unsubscribe(int32_t *sockFd, const char *user,
                                             const char *password, uint32_t scope,
                                             OnvifSubInfo *subInfo);

/* *pullPointAddr receives a copy from ZU_MEM_MallocEx; the caller frees it
 * with ZU_MEM_FreeEx. The context belongs to the caller and is only cleaned. */
VEK_ONVIF_API uint32_t VEK_Onvif_CreatePullPointSubscription(struct soap *soap, const char *url,
                                                             const char *user, const char *password,
                                                             char **pullPointAddr);
VEK_ONVIF_API uint32_t VEK_Onvif_PullMessages(struct soap *soap, const char *pullPointAddr,
                                              const char *user, const char *password,
                                              OnvifAlarmInputList *inputs, OnvifAlarmCfg *cfg,
                                              OnvifPullResult *result);

/* Accepts at most one waiting connection on sockFd and translates its
 * Notify. Returns the report array (caller frees with ZU_MEM_FreeEx) or
 * null; *connected is 1 when a connection was accepted. The camera is
 * answered 202 Accepted (a SOAP fault for a request that is no Notify).
 * When url names the camera by a numeric address, a connection from any
 * other address is closed unread (null, *connected 1); a host name in url
 * is not resolved here, and any sender is then served. */
VEK_ONVIF_API OnvifAlarmReport *VEK_Onvif_Recv_Notify(int32_t sockFd, OnvifAlarmCfg *cfg,
                                                      OnvifAlarmInputList *inputs, const char *url,
                                                      uint32_t *reportCount, uint32_t *connected);

/* ---- Alarm translation ------------------------------------------------- */

/* On success the caller owns the four arrays (ZU_MEM_FreeEx). */
VEK_ONVIF_API uint32_t VEK_Onvif_Event_ParseAlarmMsg(const char *msg, uint32_t *srcCount,
                                                     uint32_t *keyCount, uint32_t *dataCount,
                                                     uint32_t *extCount, OnvifSimpleItem **src,
                                                     OnvifSimpleItem **key, OnvifSimpleItem **data,
                                                     OnvifSimpleItem **ext);
VEK_ONVIF_API uint32_t VEK_Onvif_Event_GetChildXMLNodeData(struct _mxml_node_s *node,
                                                           OnvifSimpleItem *items);
VEK_ONVIF_API uint32_t VEK_Onvif_Event_SimpleItemCompare(uint32_t mode, uint32_t count,
                                                         const OnvifSimpleItem *templ,
                                                         const OnvifAlarmInputList *inputs,
                                                         OnvifSimpleItem *item,
                                                         uint32_t *alarmType);
VEK_ONVIF_API uint32_t VEK_Onvif_Event_CompareSourceItem(OnvifAlarmTemplate *templ,
                                                         const OnvifAlarmInputList *inputs,
                                                         OnvifAlarmTemplate *alarm, uint32_t *found,
                                                         uint32_t *channel);
VEK_ONVIF_API uint32_t VEK_Onvif_Event_CompareKeyItem(OnvifAlarmTemplate *templ,
                                                      const OnvifAlarmInputList *inputs,
                                                      OnvifAlarmTemplate *alarm, uint32_t *found,
                                                      uint32_t *channel);
VEK_ONVIF_API uint32_t VEK_Onvif_Event_MatchAlarmType(OnvifAlarmCfg *cfg,
                                                      const OnvifAlarmInputList *inputs,
                                                      OnvifAlarmTemplate *alarm,
                                                      OnvifAlarmReport *report);
VEK_ONVIF_API uint32_t VEK_Onvif_Event_GetAlarmChl(const OnvifAlarmTemplate *alarm,
                                                   const OnvifAlarmCfg *cfg, uint32_t entries,
                                                   uint32_t *channel);
/* Returns the report array (caller frees with ZU_MEM_FreeEx) or null. */
VEK_ONVIF_API OnvifAlarmReport *VEK_Onvif_TransAlarmType(OnvifAlarmCfg *cfg,
                                                         OnvifAlarmInputList *inputs,
                                                         struct _ns7__Notify *notify,
                                                         uint32_t *count);

/* ---- Discovery --------------------------------------------------------- */

VEK_ONVIF_API uint32_t VEK_Onvif_GetAlarmNum(struct _mxml_node_s *message, uint32_t *count);
VEK_ONVIF_API uint32_t VEK_Onvif_Event_ParsePropeMsg(const char *topicSet, OnvifAlarmCfg *cfg);
VEK_ONVIF_API uint32_t VEK_Onvif_GetAlarmNode(struct _mxml_node_s *start, const char *topic,
                                              uint32_t alarmType, OnvifAlarmCfg *cfg);
VEK_ONVIF_API uint32_t VEK_Onvif_GetPropeAlarm(struct _mxml_node_s *topic, OnvifAlarmCfg *cfg,
                                               OnvifAlarmTemplate *templ);
VEK_ONVIF_API uint32_t VEK_Onvif_Event_GetPropeData(struct _mxml_node_s *part, uint32_t isData,
                                                    uint32_t alarmType, uint32_t *count,
                                                    OnvifSimpleItem *items);
VEK_ONVIF_API uint32_t VEK_Onvif_AddToCFGAlarm(const OnvifAlarmTemplate *templ, OnvifAlarmCfg *cfg);
/* Replaces the discovered templates of cfg (old templates and their item
 * arrays are released first). */
VEK_ONVIF_API uint32_t VEK_Onvif_GetEventProperties(const char *url, const char *user,
                                                    const char *password, OnvifAlarmCfg *cfg);
/* Releases the discovered templates and their item arrays; leaves
 * PropeAlarmCount 0 and pstPropeAlarmInfo null. PresetAlarms is untouched. */
VEK_ONVIF_API void VEK_Onvif_Event_FreePropeAlarm(OnvifAlarmCfg *cfg);

#ifdef __cplusplus
}
#endif

#endif /* VEK_ONVIF_EVENT_H */
