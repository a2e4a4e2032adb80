// Log helpers shared by the library's sources: every line goes through the
// platform's ZU_WriteLog with the fixed third and fourth arguments and the
// name of the source the line belongs to.
#ifndef VEK_LOG_H
#define VEK_LOG_H

#include "vek_onvif_event.h"
#include "vek_platform.h"

namespace vek
{
// Source names that appear in log lines and allocation records.
constexpr const char *kEventSource = "vek_onvif_event";
constexpr const char *kWsseSource = "vek_wsseapi_event";
constexpr int32_t kLogArg3 = 2;
constexpr uint32_t kLogArg4 = 0x20000;
constexpr int32_t kLevelError = 4;
constexpr int32_t kLevelInfo = 1;
} // namespace vek

// Logs one line for the event sources; func is the operation's own name.
#define VEK_LOG(level, code, func, ...)                                                            \
    ZU_WriteLog((level), (code), vek::kLogArg3, vek::kLogArg4, vek::kEventSource, __LINE__,        \
                (func), __VA_ARGS__)

#define VEK_ALLOC(size) ZU_MEM_MallocEx(ghVekMgrModHdl, (size), vek::kEventSource, __LINE__)
#define VEK_FREE(pp) ZU_MEM_FreeEx(reinterpret_cast<void **>(pp), vek::kEventSource, __LINE__)

#endif // VEK_LOG_H
