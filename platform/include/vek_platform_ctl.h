/*
 * Controls of the stand-in platform layer, for tests and tools only.
 */
#ifndef VEK_PLATFORM_CTL_H
#define VEK_PLATFORM_CTL_H

#include "vek_platform.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Number of blocks currently allocated through ZU_MEM_MallocEx/RallocEx. */
VEK_PLAT_API uint32_t VEK_PLAT_GetLiveBlocks(void);
/* After n more successful allocations every further one fails, until called
 * again; -1 turns failure injection off. */
VEK_PLAT_API void VEK_PLAT_FailAllocAfter(int32_t n);

typedef void (*VEK_PLAT_LogSink)(int32_t level, uint32_t code, const char *file, const char *func,
                                 const char *text, void *user);
/* Sends every log line to sink instead of stderr; null restores stderr. */
VEK_PLAT_API void VEK_PLAT_SetLogSink(VEK_PLAT_LogSink sink, void *user);
/* Makes TAV_GetLocalSockAddr answer addr and result; null restores the
 * routing lookup. */
VEK_PLAT_API void VEK_PLAT_SetLocalAddr(const char *addr, uint32_t result);
/* Makes VEK_PUB_GetDevPortInfo answer port and result. */
VEK_PLAT_API void VEK_PLAT_SetDevPort(uint16_t port, uint32_t result);

#ifdef __cplusplus
}
#endif

#endif /* VEK_PLATFORM_CTL_H */
