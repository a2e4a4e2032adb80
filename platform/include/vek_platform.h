/*
 * Platform services the event library relies on: memory with source
 * tracking, logging, string and XML helpers, the recorder's local address
 * and port record, socket closing, and two platform variables.
 *
 * This library is a stand-in: in production the recorder links its own
 * implementation of exactly these symbols.
 */
#ifndef VEK_PLATFORM_H
#define VEK_PLATFORM_H

#include <stddef.h>
#include <stdint.h>

#if defined(VEK_PLATFORM_BUILD)
#define VEK_PLAT_API __attribute__((visibility("default")))
#else
#define VEK_PLAT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

struct soap;
struct _mxml_node_s;

/* Log levels used by the library. */
#define ZU_LOG_LEVEL_INFO 1
#define ZU_LOG_LEVEL_ERROR 4

/* Module handle passed to the allocator. */
VEK_PLAT_API extern void *ghVekMgrModHdl;
/* First port tried when the listening socket is bound. */
VEK_PLAT_API extern int32_t gS32AlarmDftPort;

/* Memory. Blocks are not cleared. FreeEx takes the address of the pointer,
 * frees the block and stores null; a null pointer is accepted. */
VEK_PLAT_API void *ZU_MEM_MallocEx(void *module, size_t size, const char *file, int line);
VEK_PLAT_API void *ZU_MEM_RallocEx(void *module, void *block, size_t size, const char *file,
                                   int line);
VEK_PLAT_API void ZU_MEM_FreeEx(void **pp, const char *file, int line);

/* Strings. */
VEK_PLAT_API void *ZU_memcpy(void *dst, const void *src, size_t n);
VEK_PLAT_API int ZU_snprintf(char *buf, size_t size, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));
/* First occurrence of the first n characters of word in text, or null. An
 * empty word (n == 0) is found at the start of the text. */
VEK_PLAT_API char *ZU_strnstr(const char *text, const char *word, size_t n);

/* Logging: one line per call. */
VEK_PLAT_API void ZU_WriteLog(int32_t level, uint32_t code, int32_t arg3, uint32_t arg4,
                              const char *file, int line, const char *func, const char *fmt, ...)
    __attribute__((format(printf, 8, 9)));
/* One line about a failed SOAP exchange, with the context's fault details.
 * soap is a context of the event library: an implementation reads its
 * details with VEK_Onvif_Event_DescribeError and nothing of the context
 * itself (the library's gSOAP runtime is private, its layout not the
 * recorder's). */
VEK_PLAT_API void VEK_SOAP_PUB_LogPrintImp(struct soap *soap, const char *file, int line,
                                           const char *func, const char *fmt, ...)
    __attribute__((format(printf, 5, 6)));

/* Network and device. */
/* Local address (text, at most 63 characters) the recorder uses to reach
 * the host of the URL given as key. */
VEK_PLAT_API uint32_t TAV_GetLocalSockAddr(void *key, char *addr64);
/* The recorder's port record: six 32-bit words, the first member an
 * unsigned 16-bit port. */
typedef struct VEK_PUB_DevPortInfo {
    uint16_t usPort;
    uint16_t usReserved;
    uint32_t aulReserved[5];
} VEK_PUB_DevPortInfo;
VEK_PLAT_API uint32_t VEK_PUB_GetDevPortInfo(VEK_PUB_DevPortInfo *info);
VEK_PLAT_API int __wrap_close(int fd);

/* XML helpers. */
/* Number of elements of that name below the element (descending search). */
VEK_PLAT_API uint32_t VEK_CFG_GetChildrenNodeCount(struct _mxml_node_s *node, const char *name);
/* Strips the namespace prefix of every element name, in place. */
VEK_PLAT_API uint32_t VEK_PUB_DeleteNodeProperty(char *xml);

#ifdef __cplusplus
}
#endif

#endif /* VEK_PLATFORM_H */
