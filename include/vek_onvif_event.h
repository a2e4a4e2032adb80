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

#include "vek_onvif_event_version.h"

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
 * the translation: nothing usable. Every request operation returns it,
 * whatever code it gives other failures, when its exchange passed its
 * deadline (10 s for connect, request and the whole answer, the second
 * request after a refusal included; a pull: its wait plus 10 s) or the
 * answer passed its size bound (8 MiB for GetEventProperties, 1 MiB for
 * any other), with one log line naming the bound. */
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

/* Action index of VEK_Onvif_HeaderEnc: selects the WS-Addressing action of
 * the request (or, for NOTIFY, of the message received). */
#define VEK_ONVIF_ACTION_GET_EVENT_PROPERTIES 0u
#define VEK_ONVIF_ACTION_SUBSCRIBE 1u
#define VEK_ONVIF_ACTION_NOTIFY 2u
#define VEK_ONVIF_ACTION_RENEW 3u
#define VEK_ONVIF_ACTION_UNSUBSCRIBE 4u
#define VEK_ONVIF_ACTION_CREATE_PULL_POINT 5u
#define VEK_ONVIF_ACTION_PULL_MESSAGES 6u

/* Mode of VEK_Onvif_Event_SimpleItemCompare: which part of a message the
 * compared item belongs to. Any value other than SOURCE compares like
 * KEY_DATA. */
#define VEK_ONVIF_COMPARE_MODE_KEY_DATA 0u
#define VEK_ONVIF_COMPARE_MODE_SOURCE 1u

/* ---- Records ----------------------------------------------------------- */

/* One simple item of a template or of a parsed notification message.
 * Template item: a *HasIndex of 1 means the name or value carries a
 * number (channel or input), counted from *Index; Value holds the value
 * type ("common_int", "common_string", "common_boolean") or a pattern.
 * Parsed item: Name and Value as received; the index fields tell what the
 * matching template item read from them. */
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

/* ---- Version ----------------------------------------------------------- */

/* The loaded library's version, "MAJOR.MINOR.PATCH" (VEK_ONVIF_EVENT_VERSION
 * of the build that made it); a static string, never freed. */
VEK_ONVIF_API const char *VEK_Onvif_GetVersion(void);

/* ---- Event SOAP context ------------------------------------------------ */

/* A context is the library's own: its gSOAP runtime is compiled into the
 * library and private, so struct soap stays an incomplete type here. Pass
 * contexts only to the functions of this header, never to a gSOAP of the
 * recorder's own (whose struct soap has another layout). Every function
 * that takes a context refuses, with VEK_ONVIF_ERR_PARAM and the log line
 * "Not a context of this library.", one that VEK_Onvif_Event_Init did not
 * make or that was destroyed, before reading anything of it. */

/* Creates an event SOAP context into *ctx (left unchanged on failure): a
 * gSOAP context from the platform heap with the library's time-outs, modes
 * and eventNamespaces, for the pull-point operations. The caller owns it and
 * ends it with VEK_Onvif_Event_Destroy. A null ctx, a failed allocation or
 * more than 65,536 live contexts is logged. Thread-safe. */
VEK_ONVIF_API void VEK_Onvif_Event_Init(struct soap **ctx);
/* Releases the context held by *ctx and sets *ctx to null; null is accepted.
 * A pointer that is not a live context of this library is logged and left
 * as it is. */
VEK_ONVIF_API void VEK_Onvif_Event_Destroy(struct soap **ctx);
/* Writes what the context knows of its last failure into pszText (ulSize
 * bytes, always terminated, cut to fit): "error N | R" with N the runtime's
 * error code and R its fault report on one line (fault code, subcode,
 * reason, detail), then " | HTTP S" when an answer with HTTP status S
 * arrived; an empty text when the context holds no error. Never a secret.
 * The platform's VEK_SOAP_PUB_LogPrintImp uses this instead of reading the
 * context. Returns VEK_ONVIF_OK; VEK_ONVIF_ERR_PARAM for a null argument, a
 * size of 0 or a pointer that is not a live context of this library. */
VEK_ONVIF_API uint32_t VEK_Onvif_Event_DescribeError(struct soap *soap, char *pszText,
                                                     uint32_t ulSize);

/* ---- Request headers --------------------------------------------------- */
/* The header steps write into soap's header record (created in the context
 * when missing, reused otherwise); every text they set is a copy in the
 * context's memory and lives until soap_end. */

/* Writes the WS-Addressing header: To = url, a fixed MessageID, an
 * anonymous ReplyTo and the Action of the action index
 * (VEK_ONVIF_ACTION_*). Other header fields (security token, subscription
 * reference) are kept. Returns VEK_ONVIF_OK; VEK_ONVIF_ERR_PARAM when url is
 * null or empty, soap is null, or the index is unknown (To, ReplyTo and
 * MessageID are then already set); VEK_ONVIF_ERR_NOMEM when a header record
 * cannot be allocated; VEK_ONVIF_ERR_FAIL when a text cannot be copied. */
VEK_ONVIF_API uint32_t VEK_Onvif_HeaderEnc(uint32_t action, const char *url, struct soap *soap);
/* Writes a WS-Security UsernameToken for user with a digest of password
 * (Base64(SHA-1(nonce + created + password))), a fresh nonce and the
 * current time; the password itself is not sent. Empty texts are accepted.
 * Returns VEK_ONVIF_OK; VEK_ONVIF_ERR_PARAM when an argument is null;
 * VEK_ONVIF_ERR_NOMEM when a record cannot be allocated; VEK_ONVIF_ERR_FAIL
 * when a text cannot be copied or encoded (the token may then be partly
 * filled). */
VEK_ONVIF_API uint32_t VEK_Onvif_EncryptHeader(const char *user, const char *password,
                                               struct soap *soap);
/* Writes a nonce into the caller's 16-byte buffer: 15 lowercase hex digits
 * (time, a process-wide counter, rand()) and a zero byte, which belongs to
 * the nonce. Returns VEK_ONVIF_OK, or VEK_ONVIF_ERR_PARAM when nonce16 is
 * null. */
VEK_ONVIF_API uint32_t __Onvif_CalcNonce(char *nonce16);
/* Writes SHA-1(nonce[0..nonceLen) + created + password) into the caller's
 * 20-byte buffer; created and password are zero-terminated and hashed
 * without their terminator. Returns VEK_ONVIF_OK; VEK_ONVIF_ERR_PARAM when a
 * pointer is null; VEK_ONVIF_ERR_SHA1 when the SHA-1 state is corrupted. */
VEK_ONVIF_API uint32_t __Onvif_CalcDigest(const char *created, const unsigned char *nonce,
                                          uint32_t nonceLen, const char *password,
                                          unsigned char *digest20);

/* ---- SHA-1 ------------------------------------------------------------- */
/* The state is the caller's: reset it, feed the message in any number of
 * pieces, then take the digest. The library keeps nothing between calls. */

/* Starts a new, empty computation in state (null is ignored). */
VEK_ONVIF_API void SHA1Reset(SHA1State *state);
/* Appends len bytes of data to the message. len 0 does nothing. Data after
 * the digest was taken, null data, or a message of 2^64 bits or more marks
 * the state corrupted until the next reset. */
VEK_ONVIF_API void SHA1Input(const unsigned char *data, uint32_t len, SHA1State *state);
/* Finishes the message (once) and leaves the digest in Intermediate_Hash.
 * Returns 1 when the digest is there, 0 when the state is null or
 * corrupted. */
VEK_ONVIF_API int SHA1Result(SHA1State *state);
/* Finishes the message (once) and writes the digest big-endian into the
 * caller's 20-byte buffer. Returns 0 when written, 1 when state or out20 is
 * null or the state is corrupted (nothing written). Note the opposite sense
 * of SHA1Result. */
VEK_ONVIF_API int SHA1ResultOut(SHA1State *state, unsigned char *out20);
/* Step of SHA1Result: pads the message and appends its bit length,
 * processing the last block(s). state must not be null. */
VEK_ONVIF_API void SHA1PadMessage(SHA1State *state);
/* Step of SHA1Input: compresses the 64-byte Message_Block into
 * Intermediate_Hash and empties the block. state must not be null. */
VEK_ONVIF_API void SHA1ProcessMessageBlock(SHA1State *state);

/* ---- Subscription ------------------------------------------------------ */
/* Texts passed in (addresses, references, user, password) are only read
 * during the call. A WS-Security token goes with a request when user is
 * not empty; the pull-point requests always carry one. A failed header step
 * is returned with its own code (see VEK_Onvif_HeaderEnc and
 * VEK_Onvif_EncryptHeader). */

/* Subscribes the recorder at the camera for the subscriptions that scope
 * (VEK_ONVIF_SCOPE_*) selects and subInfo does not yet flag:
 * - common alarms: binds a listening socket on the recorder's address
 *   towards the camera (localKey, opaque here, is handed to
 *   TAV_GetLocalSockAddr), trying ports from gS32AlarmDftPort up in steps of
 *   2, and subscribes it for one minute. On success the socket goes to
 *   *sockFd (the caller's until VEK_Onvif_Unsubscribe closes it) and
 *   subInfo gets the subscription's address, reference and flag;
 * - smart data, only when caps->ulSupportSmartData is 1: subscribes the
 *   recorder's own device port for 30 s to the SmartHttpReport topics whose
 *   flag in caps is 1.
 * access and caps are only read; subInfo is written in place.
 * Returns VEK_ONVIF_OK, also when only the smart-data subscription failed
 * (logged) or nothing was to do; VEK_ONVIF_ERR_PARAM for a null pointer, an
 * empty szEventUrl or an unterminated access text; the code of
 * TAV_GetLocalSockAddr; for the common subscription VEK_ONVIF_ERR_FAIL when
 * no port is free, the exchange fails or the answer has no subscription
 * address, VEK_ONVIF_ERR_NOMEM when no context can be made. */
VEK_ONVIF_API uint32_t VEK_Onvif_Subscribe(void *localKey, uint32_t scope, OnvifDevAccess *access,
                                           OnvifSmartCaps *caps, int32_t *sockFd,
                                           OnvifSubInfo *subInfo);
/* Renews for one minute the subscription managed at subAddr. subRef is the
 * reference stored by VEK_Onvif_Subscribe, sent back as it is in the
 * header; null sends none. Returns VEK_ONVIF_OK; VEK_ONVIF_ERR_PARAM when
 * subAddr is null or empty or user or password is null;
 * VEK_ONVIF_ERR_NOMEM when the reference header cannot be allocated;
 * VEK_ONVIF_ERR_SOAP when the exchange fails. */
VEK_ONVIF_API uint32_t VEK_Onvif_Renew(const char *subAddr, const char *subRef, const char *user,
                                       const char *password);
/* Ends the subscriptions that scope selects and subInfo flags with 1. The
 * common-alarm one is ended only when sockFd is not null; the listening
 * socket *sockFd is then closed whatever the camera answers and set to -1.
 * The flags of subInfo are left as they are (see OnvifSubInfo).
 * Returns VEK_ONVIF_ERR_PARAM when user, password or subInfo is null, scope
 * is unknown or no flag is set; VEK_ONVIF_ERR_FAIL when nothing was
 * selected; otherwise the result of the last subscription it tried to end:
 * VEK_ONVIF_OK, VEK_ONVIF_ERR_FAIL when the exchange failed,
 * VEK_ONVIF_ERR_PARAM when its stored address is empty or no context could
 * be made, VEK_ONVIF_ERR_NOMEM when the reference header cannot be
 * allocated. */
VEK_ONVIF_API uint32_t VEK_Onvif_Unsubscribe(int32_t *sockFd, const char *user,
                                             const char *password, uint32_t scope,
                                             OnvifSubInfo *subInfo);

/* Creates a pull-point subscription (two minutes) at the event service url.
 * soap is the caller's context (VEK_Onvif_Event_Init); it is cleaned
 * (soap_end) before the call returns, never destroyed. On success
 * *pullPointAddr receives the pull point's address, trimmed, in a block
 * from ZU_MEM_MallocEx that the caller frees with ZU_MEM_FreeEx; it is not
 * written otherwise. Returns VEK_ONVIF_OK; VEK_ONVIF_ERR_PARAM when a
 * pointer is null or url is empty; VEK_ONVIF_ERR_SOAP when the exchange
 * fails, the answer has no address or the copy cannot be allocated. */
VEK_ONVIF_API uint32_t VEK_Onvif_CreatePullPointSubscription(struct soap *soap, const char *url,
                                                             const char *user, const char *password,
                                                             char **pullPointAddr);
/* Pulls at most one message (waiting up to 1 s) from the pull point and
 * translates it as VEK_Onvif_TransAlarmType does, with cfg and inputs. soap
 * is the caller's context, cleaned before return. On VEK_ONVIF_OK *result
 * holds the reports (null and 0 when none; see OnvifPullResult). Returns
 * VEK_ONVIF_OK, also when no message came or none translated;
 * VEK_ONVIF_ERR_PARAM when a pointer is null or pullPointAddr is empty;
 * VEK_ONVIF_ERR_SOAP when the exchange fails. */
VEK_ONVIF_API uint32_t VEK_Onvif_PullMessages(struct soap *soap, const char *pullPointAddr,
                                              const char *user, const char *password,
                                              OnvifAlarmInputList *inputs, OnvifAlarmCfg *cfg,
                                              OnvifPullResult *result);

/* ---- Pull points with reference parameters ------------------------------ */

/* A pull point created at a camera. The library allocates both texts
 * (ZU_MEM_MallocEx) and VEK_Onvif_PullPoint_Free releases them. */
typedef struct OnvifPullPoint {
    char *pszAddress;           /* Address of the subscription reference */
    char *pszReference;         /* its ReferenceParameters children as well-formed XML
                                   (namespaces declared), or null when there are none */
    int64_t s64TerminationTime; /* termination time the camera gave, seconds since 1970
                                   on the camera's clock; 0 when it gave none */
    int64_t s64ClockOffset;     /* camera's CurrentTime minus the recorder's clock,
                                   seconds; 0 when the camera gave no CurrentTime */
    uint32_t ulFlags;           /* set by the caller: VEK_ONVIF_PULL_INITIAL_STATES */
} OnvifPullPoint;

/* ulFlags: report "Initialized" messages (a property's state when the pull point
 * starts or after a synchronization point) instead of dropping them. */
#define VEK_ONVIF_PULL_INITIAL_STATES 0x1u

/* The family below works in the caller's context soap (VEK_Onvif_Event_Init),
 * cleaned before each call returns, never destroyed; every request carries
 * the WS-Security and WS-Addressing headers, and every request to the pull
 * point carries each child of pszReference as a header block of its own,
 * marked wsa:IsReferenceParameter="true". Returns VEK_ONVIF_OK;
 * VEK_ONVIF_ERR_PARAM for a null pointer, an empty url or address, or a
 * value out of range; VEK_ONVIF_ERR_NOMEM; VEK_ONVIF_ERR_SOAP when the
 * exchange fails or the answer lacks what is needed; VEK_ONVIF_ERR_FAIL when
 * the camera says the pull point no longer exists (create a new one). */

/* Creates a pull point at the event service url that ends terminationSeconds
 * after creation (0: the camera's default). On success *pullPoint is
 * overwritten except ulFlags; on failure it is not written. */
VEK_ONVIF_API uint32_t VEK_Onvif_PullPoint_Create(struct soap *soap, const char *url,
                                                  const char *user, const char *password,
                                                  uint32_t terminationSeconds,
                                                  OnvifPullPoint *pullPoint);
/* Pulls up to messageLimit (1..1024) messages, waiting up to timeoutSeconds
 * (0..3600) for the first, and translates all of them as
 * VEK_Onvif_TransAlarmType does; with VEK_ONVIF_PULL_INITIAL_STATES in
 * ulFlags an "Initialized" message is translated as a "Changed" one. The
 * context's receive time-out covers the wait for the call and is restored.
 * result is written on every return (null and 0 when no reports). */
VEK_ONVIF_API uint32_t VEK_Onvif_PullPoint_Pull(struct soap *soap, const OnvifPullPoint *pullPoint,
                                                const char *user, const char *password,
                                                uint32_t messageLimit, uint32_t timeoutSeconds,
                                                OnvifAlarmInputList *inputs, OnvifAlarmCfg *cfg,
                                                OnvifPullResult *result);
/* Extends the pull point to terminationSeconds from now; s64TerminationTime
 * takes the time the camera answers (unchanged when it gives none). */
VEK_ONVIF_API uint32_t VEK_Onvif_PullPoint_Renew(struct soap *soap, OnvifPullPoint *pullPoint,
                                                 const char *user, const char *password,
                                                 uint32_t terminationSeconds);
/* Ends the pull point at the camera; the record stays to be freed. */
VEK_ONVIF_API uint32_t VEK_Onvif_PullPoint_Unsubscribe(struct soap *soap, OnvifPullPoint *pullPoint,
                                                       const char *user, const char *password);
/* Asks the camera to send the current state of every property again (as
 * "Initialized" messages, reported only with VEK_ONVIF_PULL_INITIAL_STATES). */
VEK_ONVIF_API uint32_t VEK_Onvif_PullPoint_SetSynchronizationPoint(struct soap *soap,
                                                                   const OnvifPullPoint *pullPoint,
                                                                   const char *user,
                                                                   const char *password);
/* Releases both texts and zeroes the record; null or zeroed records are
 * accepted. */
VEK_ONVIF_API void VEK_Onvif_PullPoint_Free(OnvifPullPoint *pullPoint);

/* Accepts at most one connection already waiting on the listening socket
 * sockFd (borrowed: it stays open and the caller's) and translates the
 * Notify it carries as VEK_Onvif_TransAlarmType does. Never waits for a
 * connection; a whole request must arrive within 1 s of the accept and is
 * bounded in size (1 MiB). The camera is answered 202 Accepted (a SOAP fault
 * for a request that is no Notify). url is the camera's event-service
 * address, used for the addressing header and in log lines; when it names
 * the camera by a numeric address, a connection from any other address is
 * closed unread (null, *connected 1); a host name in url is not resolved
 * here, and any sender is then served. connected must not be null:
 * *connected is 1 when a connection was accepted, 0 when none was waiting.
 * Returns the report array (caller frees with ZU_MEM_FreeEx) with its
 * count in *reportCount, or null: no connection, nothing usable, or an
 * invalid argument (url null or empty, cfg, inputs or reportCount null:
 * logged, *connected not written). *reportCount is meaningful only with a
 * non-null result. */
VEK_ONVIF_API OnvifAlarmReport *VEK_Onvif_Recv_Notify(int32_t sockFd, OnvifAlarmCfg *cfg,
                                                      OnvifAlarmInputList *inputs, const char *url,
                                                      uint32_t *reportCount, uint32_t *connected);

/* ---- The Notify hub ---------------------------------------------------- */
/* One listening port for every camera. A hub never waits on a sender: its
 * socket and connections are non-blocking, and VEK_Onvif_Hub_Poll serves
 * whatever is ready. Each camera is subscribed with a consumer address of
 * its own, http://IP:PORT/onvif_notify_server/ID/GENERATION, where ID is
 * the camera's id at the hub and GENERATION a random token of the hub, so
 * that a subscription left over from an earlier run of the recorder is told
 * apart and refused.
 *
 * Every request is held to the single-socket listener's bounds, per
 * connection: the whole request within 1 s of its accept (on a kept-alive
 * connection, of its first byte), 1 MiB at most, a Content-Length that is
 * not a size of at most 1 MiB refused unread. Chunked bodies
 * (Transfer-Encoding: chunked) are read; any other transfer coding, or a
 * chunked body that also declares a length, is refused. A Notify is
 * answered 202 Accepted with an empty body; a request that is no Notify,
 * or that is refused, gets a SOAP fault (HTTP 400) and the connection
 * closes. A request whose path is of no camera of the hub, of another
 * generation, or whose sender is not the camera of its path gets a SOAP
 * fault with HTTP 404 and is reported nowhere; each such path is logged
 * once a minute at most. An HTTP/1.1 camera (or an HTTP/1.0 one asking
 * keep-alive) keeps its connection for its next Notify; an idle connection
 * closes after 15 s, and of at most 256 open connections the oldest idle
 * one closes first for a new one.
 *
 * Threads: VEK_Onvif_Hub_Poll runs on one thread per hub; AddCamera,
 * RemoveCamera, Subscribe, Renew and Unsubscribe may be called from other
 * threads at the same time. Destroy is called when no other call on the
 * hub runs. */

/* A hub; made by VEK_Onvif_Hub_Create, ended by VEK_Onvif_Hub_Destroy. */
typedef struct OnvifNotifyHub OnvifNotifyHub;

/* One translated alarm and the camera it came from. Arrays of them are
 * allocated by the library (ZU_MEM_MallocEx) and freed by the caller with
 * ZU_MEM_FreeEx. */
typedef struct OnvifHubReport {
    uint32_t ulCameraId; /* as AddCamera gave it */
    OnvifAlarmReport stReport;
} OnvifHubReport;

/* AddCamera flag: translate initial states ("Initialized" messages) too. */
#define VEK_ONVIF_HUB_INITIAL_STATES 0x1u

/* Creates a hub listening on pszIpAddr (an IPv4 or IPv6 address; null:
 * every address of the recorder, the consumer address of each camera then
 * taking the recorder's address towards it, as VEK_Onvif_Subscribe finds it
 * with the camera's event URL as the key of TAV_GetLocalSockAddr) at usPort
 * (0: the first free port from gS32AlarmDftPort up in steps of 2). On
 * success *ppHub is the caller's until VEK_Onvif_Hub_Destroy. Returns
 * VEK_ONVIF_OK; VEK_ONVIF_ERR_PARAM when ppHub is null; VEK_ONVIF_ERR_NOMEM;
 * VEK_ONVIF_ERR_FAIL when nothing can be bound (a busy port, an address
 * that is not the recorder's or not an address). */
VEK_ONVIF_API uint32_t VEK_Onvif_Hub_Create(const char *pszIpAddr, uint16_t usPort,
                                            OnvifNotifyHub **ppHub);
/* The port the hub listens on; 0 for a null hub. */
VEK_ONVIF_API uint16_t VEK_Onvif_Hub_GetPort(const OnvifNotifyHub *pHub);
/* A descriptor, the hub's own (never closed or read by the caller), that
 * becomes readable when VEK_Onvif_Hub_Poll has work (a connection waits,
 * bytes arrived, a connection's time ran out), for the recorder's own
 * poll, select or epoll loop; -1 for a null hub. */
VEK_ONVIF_API int32_t VEK_Onvif_Hub_GetFd(const OnvifNotifyHub *pHub);
/* Registers a camera: pszEventUrl (copied) is its event-service address,
 * whose host must be a numeric address, the only one that may deliver for
 * the camera; pstCfg and pstInputs stay the caller's and must live until
 * VEK_Onvif_Hub_RemoveCamera has returned; the hub reads them only inside
 * VEK_Onvif_Hub_Poll (to rediscover, remove the camera, rediscover, and add
 * it again). ulFlags: 0 or VEK_ONVIF_HUB_INITIAL_STATES. Writes the
 * camera's id to *pulCameraId; an id is never given twice by one hub.
 * Returns VEK_ONVIF_OK; VEK_ONVIF_ERR_PARAM for a null pointer, an unknown
 * flag or a host that is not a numeric address; VEK_ONVIF_ERR_FAIL when
 * the hub's ids are used up. */
VEK_ONVIF_API uint32_t VEK_Onvif_Hub_AddCamera(OnvifNotifyHub *pHub, const char *pszEventUrl,
                                               OnvifAlarmCfg *pstCfg,
                                               OnvifAlarmInputList *pstInputs, uint32_t ulFlags,
                                               uint32_t *pulCameraId);
/* Forgets a camera and the subscriptions the hub kept for it (it ends none
 * at the camera: call VEK_Onvif_Hub_Unsubscribe first). Returns once no
 * VEK_Onvif_Hub_Poll uses the camera's records; its Notifies are refused
 * from then on. Returns VEK_ONVIF_OK; VEK_ONVIF_ERR_PARAM for a null hub or
 * an unknown id. */
VEK_ONVIF_API uint32_t VEK_Onvif_Hub_RemoveCamera(OnvifNotifyHub *pHub, uint32_t ulCameraId);
/* As VEK_Onvif_Subscribe for the camera ulCameraId, with the same records,
 * codes and log lines, but binds no socket: the common alarms are
 * subscribed to the hub's consumer address of the camera (the smart data
 * still to the recorder's device port). The hub keeps each subscription's
 * address and whole reference for VEK_Onvif_Hub_Renew and
 * VEK_Onvif_Hub_Unsubscribe; pstSub gets them as far as its fields hold: a
 * text longer than its field leaves the field empty and is no error here.
 * Returns what VEK_Onvif_Subscribe returns, and VEK_ONVIF_ERR_PARAM for an
 * unknown camera id. */
VEK_ONVIF_API uint32_t VEK_Onvif_Hub_Subscribe(OnvifNotifyHub *pHub, uint32_t ulCameraId,
                                               uint32_t ulScope, OnvifDevAccess *pstAccess,
                                               OnvifSmartCaps *pstCaps, OnvifSubInfo *pstSub);
/* Renews for one minute each subscription of the camera that ulScope
 * selects and the hub keeps, with the address and reference the hub kept,
 * the common alarms first. Returns VEK_ONVIF_OK; VEK_ONVIF_ERR_PARAM for a
 * null argument, an unknown scope or camera id; VEK_ONVIF_ERR_FAIL when the
 * hub keeps no such subscription; otherwise the first failure, as
 * VEK_Onvif_Renew returns it. */
VEK_ONVIF_API uint32_t VEK_Onvif_Hub_Renew(OnvifNotifyHub *pHub, uint32_t ulCameraId,
                                           const char *pszUser, const char *pszPassword,
                                           uint32_t ulScope);
/* Ends each subscription of the camera that ulScope selects, pstSub flags
 * with 1 and the hub keeps, with the address and reference the hub kept;
 * the hub keeps it no longer, whatever the camera answers. pstSub is only
 * read (its flags stay, see OnvifSubInfo). Returns as VEK_Onvif_Unsubscribe
 * does, and VEK_ONVIF_ERR_PARAM for an unknown camera id. */
VEK_ONVIF_API uint32_t VEK_Onvif_Hub_Unsubscribe(OnvifNotifyHub *pHub, uint32_t ulCameraId,
                                                 const char *pszUser, const char *pszPassword,
                                                 uint32_t ulScope, OnvifSubInfo *pstSub);
/* Serves what is ready, waiting at most s32TimeoutMs (0 or less: never
 * waits) and returning as soon as a Notify gave reports: accepts every
 * waiting connection, reads what each has sent without blocking, answers
 * each complete request and translates a Notify with its camera's records
 * as VEK_Onvif_TransAlarmType does (with VEK_ONVIF_HUB_INITIAL_STATES, an
 * "Initialized" message as a "Changed" one). Returns the reports (caller
 * frees with ZU_MEM_FreeEx) with their count in *pulReportCount, or null
 * with *pulReportCount 0 when nothing came; null for a null argument
 * (logged, nothing written). */
VEK_ONVIF_API OnvifHubReport *VEK_Onvif_Hub_Poll(OnvifNotifyHub *pHub, int32_t s32TimeoutMs,
                                                 uint32_t *pulReportCount);
/* Closes every connection and the listening socket, frees the hub and
 * sets *ppHub to null; null or a null *ppHub is accepted. */
VEK_ONVIF_API void VEK_Onvif_Hub_Destroy(OnvifNotifyHub **ppHub);

/* ---- Alarm translation ------------------------------------------------- */
/* Matching may change the caller's templates: a state word (true, active,
 * 1 / false, inactive, 0) in a Source or Key item moves the AlarmType of the
 * template that reads it to its active or inactive form. Calls that share
 * a configuration must not overlap. */

/* Parses the text of one notification message (element names already
 * without namespace prefixes, as VEK_PUB_DeleteNodeProperty leaves them;
 * read only) into the simple items of its Source, Key, Data and Extension
 * parts. On VEK_ONVIF_OK all eight outputs are written: a part without
 * items gives 0 and null, and the caller owns each non-null array
 * (ZU_MEM_FreeEx). On failure nothing is written or left allocated.
 * Returns VEK_ONVIF_OK; VEK_ONVIF_ERR_PARAM for a null argument or a
 * message whose PropertyOperation is "Initialized"; VEK_ONVIF_ERR_SOAP when
 * the text is no XML, has no Message element or no item at all;
 * VEK_ONVIF_ERR_NOMEM. */
VEK_ONVIF_API uint32_t VEK_Onvif_Event_ParseAlarmMsg(const char *msg, uint32_t *srcCount,
                                                     uint32_t *keyCount, uint32_t *dataCount,
                                                     uint32_t *extCount, OnvifSimpleItem **src,
                                                     OnvifSimpleItem **key, OnvifSimpleItem **data,
                                                     OnvifSimpleItem **ext);
/* Copies the Name and Value attributes of the SimpleItem elements below
 * node, in document order, into the caller's items, which must have room
 * for as many as VEK_CFG_GetChildrenNodeCount(node, "SimpleItem") counts
 * (never more are written). Other item fields are untouched. Returns
 * VEK_ONVIF_OK, or VEK_ONVIF_ERR_PARAM when an argument is null or node has
 * no SimpleItem. */
VEK_ONVIF_API uint32_t VEK_Onvif_Event_GetChildXMLNodeData(struct _mxml_node_s *node,
                                                           OnvifSimpleItem *items);
/* Compares one incoming item with the count template items templ (read
 * only) of the same part; mode is VEK_ONVIF_COMPARE_MODE_SOURCE for a
 * Source item, VEK_ONVIF_COMPARE_MODE_KEY_DATA for a Key or Data item. The
 * first template item whose name and value both fit matches. On the way it
 * writes the item's NameHasIndex/NameIndex and ValueHasIndex/ValueIndex
 * (the channel or input number the name or value carries; all 0 when none
 * matched) and moves *alarmType to its active or inactive form for a state
 * value. inputs maps the input tokens of digital-input Source items to
 * input numbers. Returns VEK_ONVIF_OK on a match, VEK_ONVIF_ERR_SOAP when
 * no template item matches, VEK_ONVIF_ERR_PARAM when a pointer is null. */
VEK_ONVIF_API uint32_t VEK_Onvif_Event_SimpleItemCompare(uint32_t mode, uint32_t count,
                                                         const OnvifSimpleItem *templ,
                                                         const OnvifAlarmInputList *inputs,
                                                         OnvifSimpleItem *item,
                                                         uint32_t *alarmType);
/* Compares every Source item of the parsed alarm with the template's Source
 * items (the template's AlarmType takes any state change). While *found is
 * not 1, the first index read sets *channel to that index minus the index
 * origin of the template item at the same position, plus 1 (0 when below
 * the origin), and *found to 1. Returns VEK_ONVIF_OK; VEK_ONVIF_ERR_NULL for
 * a null argument or item array; VEK_ONVIF_ERR_FAIL when the alarm has no
 * Source item; VEK_ONVIF_ERR_SOAP when the alarm has more Source items than
 * the template or an item matches none. */
VEK_ONVIF_API uint32_t VEK_Onvif_Event_CompareSourceItem(OnvifAlarmTemplate *templ,
                                                         const OnvifAlarmInputList *inputs,
                                                         OnvifAlarmTemplate *alarm, uint32_t *found,
                                                         uint32_t *channel);
/* The same for the Key items. An alarm without Key items gives VEK_ONVIF_OK
 * and leaves *found and *channel as they are. */
VEK_ONVIF_API uint32_t VEK_Onvif_Event_CompareKeyItem(OnvifAlarmTemplate *templ,
                                                      const OnvifAlarmInputList *inputs,
                                                      OnvifAlarmTemplate *alarm, uint32_t *found,
                                                      uint32_t *channel);
/* Finds the first template of cfg that the parsed alarm fits (discovered
 * templates first, then PresetAlarms; templates with fewer items in a part
 * than the alarm are skipped) and fills the caller's report from it:
 * AlarmType (from the topic or the template, Data state items applied),
 * Channel (from the items' indexes or the channel token table; 1 when
 * neither gives one), Reserved (all bits one), ObjectValue and
 * AttributeFlags where the alarm kind carries them. The alarm's items get
 * their index fields rewritten. Returns VEK_ONVIF_OK; VEK_ONVIF_ERR_PARAM
 * when a pointer is null; VEK_ONVIF_ERR_FAIL when the topic is refused
 * (AccessZone, LeaveZone, CountAggregation) or no template was tried;
 * otherwise the failure of the last template tried (usually
 * VEK_ONVIF_ERR_SOAP). On failure the report may hold values read from a
 * template that did not fit. */
VEK_ONVIF_API uint32_t VEK_Onvif_Event_MatchAlarmType(OnvifAlarmCfg *cfg,
                                                      const OnvifAlarmInputList *inputs,
                                                      OnvifAlarmTemplate *alarm,
                                                      OnvifAlarmReport *report);
/* Looks up the value of the alarm's first Source item in the first entries
 * (at most 16) of cfg->ChannelTokens: the first entry whose primary or
 * secondary token begins with it sets *channel to its position plus 1.
 * Otherwise *channel is unchanged. Returns VEK_ONVIF_OK (also when nothing
 * was found), or VEK_ONVIF_ERR_PARAM when a pointer is null. */
VEK_ONVIF_API uint32_t VEK_Onvif_Event_GetAlarmChl(const OnvifAlarmTemplate *alarm,
                                                   const OnvifAlarmCfg *cfg, uint32_t entries,
                                                   uint32_t *channel);
/* Translates every notification message of notify into reports: prepares
 * its text (VEK_PUB_DeleteNodeProperty rewrites the message texts of notify
 * in place), parses it and matches it against cfg with inputs. A message
 * that fails is logged and skipped; a face-attribute alarm gives a no-mask
 * report, an abnormal-temperature report, both or none.
 * Returns the report array (caller frees with ZU_MEM_FreeEx) with its
 * count in *count, or null with *count 0 when no message gave a report.
 * A null argument gives null and leaves *count unwritten. */
VEK_ONVIF_API OnvifAlarmReport *VEK_Onvif_TransAlarmType(OnvifAlarmCfg *cfg,
                                                         OnvifAlarmInputList *inputs,
                                                         struct _ns7__Notify *notify,
                                                         uint32_t *count);

/* ---- Discovery --------------------------------------------------------- */
/* Discovered templates and their item arrays are allocated by the library
 * inside the caller's configuration (see OnvifAlarmCfg). Topic-set texts are
 * read only and carry no namespace prefixes on their element names. */

/* Counts the alarm topics the library knows below the topic set's Message
 * element (a Mini-XML node, read only): the number of templates a walk can
 * build. Returns VEK_ONVIF_OK with the number in *count, or
 * VEK_ONVIF_ERR_PARAM when an argument is null. */
VEK_ONVIF_API uint32_t VEK_Onvif_GetAlarmNum(struct _mxml_node_s *message, uint32_t *count);
/* Replaces the discovered templates of cfg with one template per known
 * alarm topic of the topic-set text ("<Message>...</Message>"). When the
 * text has a SmartHttpReport topic, cfg->stSmartCaps gets the flag of each
 * report it lists set to 1 (the others keep their value) and
 * ulSupportSmartData 1 when it lists any, else 0. Returns VEK_ONVIF_OK
 * (also when it knows no alarm: no templates then); VEK_ONVIF_ERR_PARAM when
 * an argument is null; VEK_ONVIF_ERR_FAIL when the text is no XML or has no
 * Message element; VEK_ONVIF_ERR_NOMEM. The old templates are released in
 * every case but a null argument. */
VEK_ONVIF_API uint32_t VEK_Onvif_Event_ParsePropeMsg(const char *topicSet, OnvifAlarmCfg *cfg);
/* Looks for the element named topic below start; when present, builds a
 * template of code alarmType from it (VEK_Onvif_GetPropeAlarm), its Topic
 * the element's path below the topic set ("RuleEngine/LineDetector/Crossed",
 * names as the topic set wrote them; matching reads it only for a message
 * without Source items, which a template of its own topic alone takes), and appends
 * it to cfg, whose template array must have room for it. Returns
 * VEK_ONVIF_OK, also when the topic is absent; VEK_ONVIF_ERR_PARAM when an
 * argument is null; VEK_ONVIF_ERR_NOMEM; or the result of
 * VEK_Onvif_GetPropeAlarm. */
VEK_ONVIF_API uint32_t VEK_Onvif_GetAlarmNode(struct _mxml_node_s *start, const char *topic,
                                              uint32_t alarmType, OnvifAlarmCfg *cfg);
/* Reads the MessageDescription below the topic element into the caller's
 * templ, whose AlarmType is set: the items of all its Source elements and
 * of its Key and Data elements with their value types, in item arrays from
 * ZU_MEM_MallocEx. Then appends templ to cfg (VEK_Onvif_AddToCFGAlarm),
 * which takes over the arrays; the record templ stays the caller's.
 * Returns VEK_ONVIF_OK; VEK_ONVIF_ERR_PARAM when an argument is null or the
 * description, its Data element, or the items of its Source or Data
 * elements are missing (a description without a Source element gives a
 * template without Source items);
 * VEK_ONVIF_ERR_NOMEM; VEK_ONVIF_ERR_FAIL when the Key or Data items
 * cannot be read; or the result of VEK_Onvif_AddToCFGAlarm. Arrays made
 * before a failure are released again. */
VEK_ONVIF_API uint32_t VEK_Onvif_GetPropeAlarm(struct _mxml_node_s *topic, OnvifAlarmCfg *cfg,
                                               OnvifAlarmTemplate *templ);
/* Fills the caller's items from the SimpleItemDescription elements below
 * part (a Source, Key or Data element): the Name, and as Value the value
 * type "common_int" (an index: ValueHasIndex 1, origin 1 for illegal-login
 * alarms, else 0), "common_boolean" (Data only) or "common_string". isData
 * is nonzero for a Data part; Source and Key items of digital-input alarms
 * (alarmType VEK_ALARM_DIGITAL_INPUT) are always indexes. items must have
 * room for every SimpleItemDescription below part. Returns VEK_ONVIF_OK
 * with the number filled in *count, or VEK_ONVIF_ERR_PARAM when an argument
 * is null or part has no SimpleItemDescription. */
VEK_ONVIF_API uint32_t VEK_Onvif_Event_GetPropeData(struct _mxml_node_s *part, uint32_t isData,
                                                    uint32_t alarmType, uint32_t *count,
                                                    OnvifSimpleItem *items);
/* Appends a copy of *templ to cfg->pstPropeAlarmInfo at PropeAlarmCount and
 * counts it; the item arrays it points to belong to cfg from then on. The
 * array must have room (it is not checked). Returns VEK_ONVIF_OK, or
 * VEK_ONVIF_ERR_PARAM when an argument or the array is null. */
VEK_ONVIF_API uint32_t VEK_Onvif_AddToCFGAlarm(const OnvifAlarmTemplate *templ, OnvifAlarmCfg *cfg);
/* Asks the camera's event service at url for its event properties and
 * rebuilds the discovered templates and smart-report flags of cfg from the
 * topic set (VEK_Onvif_Event_ParsePropeMsg). The old templates are released
 * first, whatever follows, once cfg is not null. Returns VEK_ONVIF_OK when
 * the exchange succeeded, whatever the topic set held (none or unusable:
 * no templates); VEK_ONVIF_ERR_PARAM when cfg, url, user or password is
 * null or url is empty; VEK_ONVIF_ERR_SOAP when the exchange fails. */
VEK_ONVIF_API uint32_t VEK_Onvif_GetEventProperties(const char *url, const char *user,
                                                    const char *password, OnvifAlarmCfg *cfg);
/* Releases the discovered templates and their item arrays; leaves
 * PropeAlarmCount 0 and pstPropeAlarmInfo null. PresetAlarms is untouched.
 * A null cfg is ignored. */
VEK_ONVIF_API void VEK_Onvif_Event_FreePropeAlarm(OnvifAlarmCfg *cfg);
/* Replaces the discovered templates of pstCfg, as discovery does, with
 * templates built from the topic table alone (the built-in rows and the
 * added topic rules), each with the Source, Key and Data items cameras
 * commonly send for its kind of alarm (those of an added rule take any items,
 * but only messages of the rule's topic): for a camera that answers no
 * GetEventProperties. Returns VEK_ONVIF_OK; VEK_ONVIF_ERR_PARAM for a null
 * pstCfg; VEK_ONVIF_ERR_NOMEM (no templates then). */
VEK_ONVIF_API uint32_t VEK_Onvif_Event_TemplatesFromTable(OnvifAlarmCfg *pstCfg);

/* ---- Topic rules --------------------------------------------------------- */
/* Extra rows of the topic table for the whole process (thread-safe; at most
 * 256), read by discovery and translation like the built-in rows; a rule for
 * a topic the built-in table has takes precedence over it.
 * pszTopic is a concrete topic ("tns1:Device/tnsexample:Sensor/PIR"): its
 * segments match without regard to the namespace prefix, and a segment "*"
 * matches any one segment. ulAlarmType is the active code (1..999; the
 * inactive form is the code plus 1000). pszStateItem names the Data item
 * read as the state (null: the first Data item whose value is a state word).
 * Adding a topic again replaces its rule. Returns VEK_ONVIF_OK;
 * VEK_ONVIF_ERR_PARAM for a null, empty or over-long (255) topic, an empty
 * segment or a code out of range; VEK_ONVIF_ERR_FAIL when the table is
 * full. */
VEK_ONVIF_API uint32_t VEK_Onvif_AddTopicRule(const char *pszTopic, uint32_t ulAlarmType,
                                              const char *pszStateItem);
/* Empties the table of added topic rules. */
VEK_ONVIF_API void VEK_Onvif_ClearTopicRules(void);

/* ---- HTTPS event services -------------------------------------------- */
/* Every operation accepts an https:// event-service or subscription URL
 * (TLS 1.2 or newer). The trust settings below hold for the whole process;
 * every function of this section is thread-safe and copies what it keeps.
 * A camera whose certificate is refused fails the operation with
 * VEK_ONVIF_ERR_SOAP and one log line "TLS certificate of HOST refused
 * (WHY), SHA-256 FINGERPRINT." (WHY: expired, unknown issuer, name mismatch,
 * pin mismatch, ...). The Notify listener stays plain HTTP. */

/* The camera's certificate chains to a trusted CA (the CA file when one is
 * given, the system's store otherwise) and names the host of the URL. The
 * mode a process starts with. */
#define VEK_ONVIF_TLS_VERIFY 0
/* Encrypted without checking the certificate; the log tells once per host
 * "TLS certificate of HOST is not checked.". */
#define VEK_ONVIF_TLS_ANY 1

/* Sets the trust mode and the CA file (PEM, one or more certificates; read
 * again at each connection) that replaces the system's store; a null or
 * empty pszCaFile means the system's store. Returns VEK_ONVIF_OK;
 * VEK_ONVIF_ERR_PARAM for an unknown mode or a name longer than 4,096
 * bytes; VEK_ONVIF_ERR_FAIL when the CA file holds no certificate that can
 * be read (the settings are then left as they were). */
VEK_ONVIF_API uint32_t VEK_Onvif_Tls_SetTrust(uint32_t ulMode, const char *pszCaFile);
/* Pins pszHost (the host of the camera's URLs, an IPv6 address without its
 * brackets; case ignored): the camera there is accepted exactly when the
 * SHA-256 fingerprint of its own certificate is pszSha256Hex (64 hex
 * digits, case and colons ignored), whatever the mode and the CA. A null
 * pszSha256Hex removes the pin (VEK_ONVIF_OK also when there was none);
 * pinning a pinned host replaces its fingerprint. Returns
 * VEK_ONVIF_OK; VEK_ONVIF_ERR_PARAM for a null, empty or over-long (255)
 * host or a malformed fingerprint; VEK_ONVIF_ERR_FAIL when 1,024 other
 * hosts are pinned already. */
VEK_ONVIF_API uint32_t VEK_Onvif_Tls_PinHost(const char *pszHost, const char *pszSha256Hex);
/* Connects to the https:// pszUrl, completes the TLS handshake without
 * judging the certificate, and writes the SHA-256 fingerprint of the
 * camera's certificate into szSha256Hex (the caller's 65 bytes: 64
 * lower-case hex digits and the terminator), to be shown and pinned. Sends
 * no request; takes at most the library's time-outs (5 s each for connect
 * and handshake). Returns VEK_ONVIF_OK; VEK_ONVIF_ERR_PARAM for a null
 * argument or a URL that is not https://; VEK_ONVIF_ERR_SOAP when no
 * handshake completed (logged); VEK_ONVIF_ERR_NOMEM. */
VEK_ONVIF_API uint32_t VEK_Onvif_Tls_FetchFingerprint(const char *pszUrl, char szSha256Hex[65]);


/* ---- Why the last operation failed ------------------------------------ */
/* Every operation that sends a request (VEK_Onvif_GetEventProperties,
 * VEK_Onvif_Subscribe, VEK_Onvif_Renew, VEK_Onvif_Unsubscribe, both
 * pull-point APIs, VEK_Onvif_Tls_FetchFingerprint, VEK_Onvif_Hub_Create,
 * VEK_Onvif_Hub_Subscribe, VEK_Onvif_Hub_Renew, VEK_Onvif_Hub_Unsubscribe)
 * and VEK_Onvif_Recv_Notify clears the calling thread's error record when it
 * starts and fills it when it fails, so that a recorder can tell a wrong
 * password from a camera that is offline or is no event service without
 * reading log lines. The log lines stay as they are. VEK_Onvif_Hub_Poll
 * serves many senders and leaves the record as it is. */

#define VEK_ONVIF_FAIL_NONE           0  /* the last operation succeeded */
#define VEK_ONVIF_FAIL_ARGUMENT       1  /* refused before any request */
#define VEK_ONVIF_FAIL_MEMORY         2
#define VEK_ONVIF_FAIL_RESOLVE        3  /* host name not resolved */
#define VEK_ONVIF_FAIL_CONNECT        4  /* refused or unreachable */
#define VEK_ONVIF_FAIL_TIMEOUT        5  /* no (complete) answer in time */
#define VEK_ONVIF_FAIL_TLS            6  /* handshake failed or certificate refused */
#define VEK_ONVIF_FAIL_HTTP           7  /* an HTTP status other than 2xx and other than a refusal of credentials */
#define VEK_ONVIF_FAIL_NOT_AUTHORIZED 8  /* credentials refused (HTTP 401 or a NotAuthorized fault), after the one retry */
#define VEK_ONVIF_FAIL_FAULT          9  /* any other SOAP fault */
#define VEK_ONVIF_FAIL_BAD_ANSWER     10 /* an answer that is not SOAP or lacks what the operation needs */
#define VEK_ONVIF_FAIL_TOO_LARGE      11 /* an answer or reference beyond the library's bounds */
#define VEK_ONVIF_FAIL_LOCAL          12 /* the recorder's side: no free port, a reference that does not fit, ... */

/* The calling thread's record of its last operation; texts are terminated
 * and cut to their fields. */
typedef struct OnvifErrorInfo {
    char     szOperation[48];      /* the exported function that failed, e.g. "VEK_Onvif_Subscribe" */
    uint32_t ulResult;             /* the code it returned */
    uint32_t ulKind;               /* VEK_ONVIF_FAIL_* */
    uint32_t ulHttpStatus;         /* status of the camera's last answer, 0 when there was none */
    char     szFaultSubcode[64];   /* innermost fault subcode as received, e.g. "ter:NotAuthorized"; empty when none */
    char     szReason[256];        /* the fault's reason text, or what failed in words; never a secret */
    int64_t  s64ClockOffset;       /* camera clock minus recorder clock in seconds when an answer gave it, else 0 */
    uint32_t ulAttempts;           /* requests sent by this call (1, or 2 after a refusal) */
    char     szTlsFingerprint[65]; /* SHA-256 of the camera's certificate when ulKind is VEK_ONVIF_FAIL_TLS */
} OnvifErrorInfo;

/* Copies the calling thread's record into *pstInfo (all zero after an
 * operation that succeeded). Returns VEK_ONVIF_OK, or VEK_ONVIF_ERR_PARAM
 * for a null pointer. VEK_Onvif_Recv_Notify returns no code: its ulResult
 * is VEK_ONVIF_ERR_PARAM for an argument, VEK_ONVIF_ERR_FAIL for a request
 * it refused (another sender than the camera, too large, a bad length) and
 * VEK_ONVIF_ERR_SOAP for one it could not read as a Notify; a connection
 * that sends nothing within the listener's time is VEK_ONVIF_FAIL_TIMEOUT. */
VEK_ONVIF_API uint32_t VEK_Onvif_GetLastError(OnvifErrorInfo *pstInfo);

#ifdef __cplusplus
}
#endif

#endif /* VEK_ONVIF_EVENT_H */
