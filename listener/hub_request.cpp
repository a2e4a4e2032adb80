// The framing of a hub request and its reading as a Notify from memory.
#include "hub_request.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "context_registry.h"
#include "soapH.h"
#include "vek_soap_context.h"

namespace vek::hub
{
namespace
{

// Longest chunk-size line (with its extensions) that is waited for.
constexpr size_t kMaxChunkLine = 1024;

std::string_view trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

bool sameWord(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// Whether the comma-separated list holds word.
bool listHolds(std::string_view list, std::string_view word)
{
    while (!list.empty()) {
        size_t comma = list.find(',');
        if (sameWord(trim(list.substr(0, comma)), word)) {
            return true;
        }
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    }
    return false;
}

// The line starting at from, without its line end; npos as end when the
// line is not complete yet.
std::string_view lineAt(std::string_view bytes, size_t from, size_t &next)
{
    size_t end = bytes.find('\n', from);
    if (end == std::string_view::npos) {
        next = std::string_view::npos;
        return {};
    }
    next = end + 1;
    std::string_view line = bytes.substr(from, end - from);
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

} // namespace

Progress RequestFrame::refuse(NotifyRefusal why)
{
    refusal_ = why;
    return Progress::Refused;
}

Progress RequestFrame::judge(std::string_view bytes, bool senderDone)
{
    if (!headComplete()) {
        Progress head = readHead(bytes);
        if (head != Progress::Complete) {
            if (head == Progress::Incomplete && bytes.size() >= kNotifyMaxBytes) {
                return refuse(NotifyRefusal::Oversized);
            }
            return head;
        }
    }
    Progress body = Progress::Incomplete;
    if (chunked_) {
        body = followChunks(bytes);
    } else if (hasLength_) {
        size_ = headSize_ + static_cast<size_t>(contentLength_);
        body = bytes.size() >= size_ ? Progress::Complete : Progress::Incomplete;
    } else if (senderDone) {
        // Neither a length nor chunks: the body ends with the connection.
        size_ = bytes.size();
        body = Progress::Complete;
    }
    if (body == Progress::Refused) {
        return body;
    }
    if ((body == Progress::Complete && size_ > kNotifyMaxBytes) ||
        (body == Progress::Incomplete && bytes.size() >= kNotifyMaxBytes)) {
        return refuse(NotifyRefusal::Oversized);
    }
    return body;
}

Progress RequestFrame::readHead(std::string_view bytes)
{
    // The head ends with an empty line; bare line feeds are read too.
    size_t end = 0;
    for (size_t at = bytes.find('\n', headScanned_); at != std::string_view::npos && end == 0;
         at = bytes.find('\n', at + 1)) {
        // at ends a line: the head ends when the next line is empty.
        if (at + 1 >= bytes.size() || (bytes[at + 1] == '\r' && at + 2 >= bytes.size())) {
            headScanned_ = at;
            return Progress::Incomplete;
        }
        if (bytes[at + 1] == '\n') {
            end = at + 2;
        } else if (bytes[at + 1] == '\r' && bytes[at + 2] == '\n') {
            end = at + 3;
        }
    }
    if (end == 0) {
        headScanned_ = bytes.size();
        return Progress::Incomplete;
    }
    size_t next = 0;
    std::string_view requestLine = lineAt(bytes, 0, next);
    size_t methodEnd = requestLine.find(' ');
    size_t pathEnd =
        methodEnd == std::string_view::npos ? methodEnd : requestLine.find(' ', methodEnd + 1);
    if (pathEnd == std::string_view::npos) {
        return refuse(NotifyRefusal::None);
    }
    method_ = std::string(requestLine.substr(0, methodEnd));
    path_ = std::string(requestLine.substr(methodEnd + 1, pathEnd - methodEnd - 1));
    std::string_view version = trim(requestLine.substr(pathEnd + 1));
    bool http11 = version == "HTTP/1.1";
    bool closeAsked = false;
    bool keepAsked = false;
    while (next < end) {
        std::string_view line = lineAt(bytes, next, next);
        size_t colon = line.find(':');
        if (line.empty() || colon == std::string_view::npos) {
            continue;
        }
        std::string_view name = trim(line.substr(0, colon));
        std::string_view value = trim(line.substr(colon + 1));
        if (sameWord(name, "Connection")) {
            closeAsked = closeAsked || listHolds(value, "close");
            keepAsked = keepAsked || listHolds(value, "keep-alive");
        } else if (!readHeader(name, value)) {
            return Progress::Refused;
        }
    }
    if (chunked_ && hasLength_) {
        // Two framings that could disagree: neither is trusted.
        return refuse(NotifyRefusal::BadLength);
    }
    keepAlive_ = http11 ? !closeAsked : keepAsked && !closeAsked;
    headSize_ = end;
    chunkCursor_ = end;
    return Progress::Complete;
}

// False (with the refusal set) for a header that refuses the request.
bool RequestFrame::readHeader(std::string_view name, std::string_view value)
{
    if (sameWord(name, "Content-Length")) {
        const std::string text(value);
        NotifyRefusal verdict = checkContentLength(text.c_str());
        if (verdict != NotifyRefusal::None) {
            refusal_ = verdict;
            return false;
        }
        uint64_t length = std::strtoull(text.c_str(), nullptr, 10);
        if (hasLength_ && length != contentLength_) {
            refusal_ = NotifyRefusal::BadLength;
            return false;
        }
        hasLength_ = true;
        contentLength_ = length;
    } else if (sameWord(name, "Transfer-Encoding")) {
        // Chunked is read; any other coding is not.
        if (!sameWord(value, "chunked")) {
            refusal_ = NotifyRefusal::BadLength;
            return false;
        }
        chunked_ = true;
    } else if (sameWord(name, "Expect")) {
        expectContinue_ = sameWord(value, "100-continue");
    }
    return true;
}

// Follows the chunks from where the last call stopped: each a hexadecimal
// size line, that many bytes and a line end; the last of size 0, then
// trailer lines up to an empty one.
Progress RequestFrame::followChunks(std::string_view bytes)
{
    for (;;) {
        size_t next = 0;
        std::string_view line = lineAt(bytes, chunkCursor_, next);
        if (next == std::string_view::npos) {
            return bytes.size() - chunkCursor_ > kMaxChunkLine ? refuse(NotifyRefusal::BadLength)
                                                               : Progress::Incomplete;
        }
        // The same bound for a line that came whole: the verdict must not
        // depend on how the bytes were split.
        if (next - 1 - chunkCursor_ > kMaxChunkLine) {
            return refuse(NotifyRefusal::BadLength);
        }
        line = trim(line.substr(0, line.find(';')));
        if (line.empty() || line.find_first_not_of("0123456789abcdefABCDEF") != line.npos) {
            return refuse(NotifyRefusal::BadLength);
        }
        uint64_t size = 0;
        for (char digit : line) {
            size = size * 16 + static_cast<uint64_t>(std::isdigit(static_cast<unsigned char>(digit))
                                                         ? digit - '0'
                                                         : std::tolower(digit) - 'a' + 10);
            if (size > kNotifyMaxBytes) {
                return refuse(NotifyRefusal::Oversized);
            }
        }
        if (size == 0) {
            for (size_t at = next; at != std::string_view::npos;) {
                std::string_view trailer = lineAt(bytes, at, at);
                if (at != std::string_view::npos && trailer.empty()) {
                    size_ = at;
                    return Progress::Complete;
                }
            }
            return Progress::Incomplete;
        }
        size_t dataEnd = next + static_cast<size_t>(size);
        if (bytes.size() < dataEnd + 2) {
            return Progress::Incomplete;
        }
        if (bytes[dataEnd] == '\r' && bytes[dataEnd + 1] == '\n') {
            chunkCursor_ = dataEnd + 2;
        } else if (bytes[dataEnd] == '\n') {
            chunkCursor_ = dataEnd + 1;
        } else {
            return refuse(NotifyRefusal::BadLength);
        }
    }
}

// The runtime's constructor of soap_ has initialised the context already.
BufferedNotify::BufferedNotify(std::string_view request) : rest_(request)
{
    applyEventSettings(&soap_, kNotifyTimeoutSeconds);
    soap_.maxlevel = kNotifyMaxDepth;
    soap_.sendfd = -1;
    soap_.frecv = &BufferedNotify::fromBuffer;
    soap_.fsend = &BufferedNotify::sendNothing;
    soap_.user = this;
    // The platform's log asks the library about this context's failures.
    registerContext(&soap_);
}

BufferedNotify::~BufferedNotify()
{
    unregisterContext(&soap_);
    soap_delete(&soap_, nullptr);
    soap_end(&soap_);
    soap_done(&soap_);
}

_ns7__Notify *BufferedNotify::read()
{
    __ns15__Notify notify;
    notify.ns7__Notify = nullptr;
    if (soap_recv___ns15__Notify(&soap_, &notify) != SOAP_OK) {
        return nullptr;
    }
    return notify.ns7__Notify;
}

_ns7__Notify *BufferedNotify::read(std::string_view request)
{
    release();
    rest_ = request;
    return read();
}

void BufferedNotify::release()
{
    soap_delete(&soap_, nullptr);
    soap_end(&soap_);
}

size_t BufferedNotify::fromBuffer(struct soap *soap, char *buf, size_t len)
{
    auto *self = static_cast<BufferedNotify *>(soap->user);
    size_t n = std::min(len, self->rest_.size());
    std::memcpy(buf, self->rest_.data(), n);
    self->rest_.remove_prefix(n);
    return n;
}

// The answer is written by the hub itself; the runtime's own (an interim
// "100 Continue" for one) goes nowhere.
int BufferedNotify::sendNothing(struct soap *, const char *, size_t)
{
    return SOAP_OK;
}

} // namespace vek::hub
