// Log lines: to stderr as "level code file:line function: text", or to a
// sink installed by a test or a tool.
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include "stdsoap2.h"
#include "vek_platform_ctl.h"

namespace
{
std::mutex g_sinkLock;
VEK_PLAT_LogSink g_sink = nullptr;
void *g_sinkUser = nullptr;

std::string formatText(const char *fmt, va_list args)
{
    if (fmt == nullptr) {
        return {};
    }
    char small[512];
    va_list copy;
    va_copy(copy, args);
    int len = std::vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    if (len < 0) {
        return {};
    }
    if (static_cast<size_t>(len) < sizeof small) {
        return std::string(small, static_cast<size_t>(len));
    }
    std::string text(static_cast<size_t>(len) + 1, '\0');
    std::vsnprintf(&text[0], text.size(), fmt, args);
    text.resize(static_cast<size_t>(len));
    return text;
}

void emit(int32_t level, uint32_t code, const char *file, int line, const char *func,
          const std::string &text)
{
    std::lock_guard<std::mutex> guard(g_sinkLock);
    if (g_sink != nullptr) {
        g_sink(level, code, file != nullptr ? file : "", func != nullptr ? func : "", text.c_str(),
               g_sinkUser);
        return;
    }
    std::fprintf(stderr, "%d %u %s:%d %s: %s\n", level, code, file != nullptr ? file : "", line,
                 func != nullptr ? func : "", text.c_str());
}
} // namespace

extern "C" {

void ZU_WriteLog(int32_t level, uint32_t code, int32_t /*arg3*/, uint32_t /*arg4*/,
                 const char *file, int line, const char *func, const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    std::string text = formatText(fmt, args);
    va_end(args);
    emit(level, code, file, line, func, text);
}

void VEK_SOAP_PUB_LogPrintImp(struct soap *soap, const char *file, int line, const char *func,
                              const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    std::string text = formatText(fmt, args);
    va_end(args);
    if (soap != nullptr && soap->error != SOAP_OK) {
        char fault[512];
        soap_sprint_fault(soap, fault, sizeof fault);
        // The runtime's report spans lines; keep the log to one.
        for (char *p = fault; *p != '\0'; ++p) {
            if (*p == '\n' || *p == '\r') {
                *p = ' ';
            }
        }
        text += " | ";
        text += fault;
        // The HTTP status of the camera's answer, when one arrived (a fault's body hides it).
        if (soap->status >= 100 && soap->status <= 599) {
            text += " | HTTP " + std::to_string(soap->status);
        }
    }
    emit(ZU_LOG_LEVEL_ERROR, soap != nullptr ? static_cast<uint32_t>(soap->error) : 0u, file, line,
         func, text);
}

void VEK_PLAT_SetLogSink(VEK_PLAT_LogSink sink, void *user)
{
    std::lock_guard<std::mutex> guard(g_sinkLock);
    g_sink = sink;
    g_sinkUser = user;
}

} // extern "C"
