// Takes over the platform's log sink, so that a program or a test sees every log line of the
// library: kept in order, searchable, and echoed to stderr when asked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace veklog
{

// One library log line as the platform's log sink received it.
struct LogLine {
    int32_t level = 0;
    uint32_t code = 0;
    std::string file;
    std::string func;
    std::string text;
};

// Holds the platform's log sink for its lifetime (one at a time per process); the sink goes back
// to stderr afterwards. With echo on, each line is also printed to stderr as it comes.
class LogCapture
{
  public:
    explicit LogCapture(bool echo = false);
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    std::vector<LogLine> lines() const;
    size_t count() const;
    // The lines from index first on (a mark taken with count() before a step).
    std::vector<LogLine> since(size_t first) const;
    // True when a line with exactly these level, code, function and text was logged.
    bool has(int32_t level, uint32_t code, const std::string &func, const std::string &text) const;
    // True when the text of some line from index first on contains the fragment.
    bool hasText(const std::string &fragment, size_t first = 0) const;
    void clear();

  private:
    static void sink(int32_t level, uint32_t code, const char *file, const char *func,
                     const char *text, void *user);
    bool echo_;
    mutable std::mutex lock_;
    std::vector<LogLine> lines_;
};

} // namespace veklog
