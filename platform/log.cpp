// Log lines: to stderr as "level code file:line function: text", or to a
// sink installed by a test or a tool.
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include "vek_platform_ctl.h"

// The event library's description of a context's failure; weak, so that the
// stand-in also loads into a program without the event library.
extern "C" uint32_t VEK_Onvif_Event_DescribeError(struct soap *soap, char *pszText, uint32_t ulSize)
    __attribute__((weak));

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
    // "error N | report[ | HTTP S]": the line carries N as its code and the
    // rest after the caller's text.
    uint32_t code = 0;
    char details[640] = "";
    if (soap != nullptr && VEK_Onvif_Event_DescribeError != nullptr &&
        VEK_Onvif_Event_DescribeError(soap, details, sizeof details) == 0 && details[0] != '\0') {
        int error = 0;
        int consumed = 0;
        if (std::sscanf(details, "error %d | %n", &error, &consumed) == 1 && consumed > 0) {
            code = static_cast<uint32_t>(error);
            text += " | ";
            text += details + consumed;
        }
    }
    emit(ZU_LOG_LEVEL_ERROR, code, file, line, func, text);
}

void VEK_PLAT_SetLogSink(VEK_PLAT_LogSink sink, void *user)
{
    std::lock_guard<std::mutex> guard(g_sinkLock);
    g_sink = sink;
    g_sinkUser = user;
}

} // extern "C"
