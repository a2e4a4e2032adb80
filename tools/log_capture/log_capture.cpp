#include "log_capture.h"

#include <cstdio>

#include "vek_platform.h"
#include "vek_platform_ctl.h"

namespace veklog
{

LogCapture::LogCapture(bool echo) : echo_(echo)
{
    VEK_PLAT_SetLogSink(&LogCapture::sink, this);
}

LogCapture::~LogCapture()
{
    VEK_PLAT_SetLogSink(nullptr, nullptr);
}

void LogCapture::sink(int32_t level, uint32_t code, const char *file, const char *func,
                      const char *text, void *user)
{
    auto *self = static_cast<LogCapture *>(user);
    LogLine line{level, code, file != nullptr ? file : "", func != nullptr ? func : "",
                 text != nullptr ? text : ""};
    if (self->echo_) {
        std::fflush(stdout); // keep the order of both streams when they share a terminal
        std::fprintf(stderr, "  [lib %s %u] %s: %s\n", level >= ZU_LOG_LEVEL_ERROR ? "err" : "info",
                     code, line.func.c_str(), line.text.c_str());
    }
    std::lock_guard<std::mutex> guard(self->lock_);
    self->lines_.push_back(std::move(line));
}

std::vector<LogLine> LogCapture::lines() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return lines_;
}

size_t LogCapture::count() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return lines_.size();
}

std::vector<LogLine> LogCapture::since(size_t first) const
{
    std::lock_guard<std::mutex> guard(lock_);
    if (first >= lines_.size()) {
        return {};
    }
    return std::vector<LogLine>(lines_.begin() + static_cast<std::ptrdiff_t>(first), lines_.end());
}

bool LogCapture::has(int32_t level, uint32_t code, const std::string &func,
                     const std::string &text) const
{
    for (const LogLine &line : lines()) {
        if (line.level == level && line.code == code && line.func == func && line.text == text) {
            return true;
        }
    }
    return false;
}

bool LogCapture::hasText(const std::string &fragment, size_t first) const
{
    for (const LogLine &line : since(first)) {
        if (line.text.find(fragment) != std::string::npos) {
            return true;
        }
    }
    return false;
}

void LogCapture::clear()
{
    std::lock_guard<std::mutex> guard(lock_);
    lines_.clear();
}

} // namespace veklog
