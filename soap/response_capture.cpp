#include "response_capture.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace vek
{

ResponseCapture::ResponseCapture(struct soap *soap, size_t limit) : soap_(soap), limit_(limit)
{
    if (soap_ != nullptr) {
        previousRecv_ = soap_->frecv;
        previousUser_ = soap_->user;
        soap_->user = this;
        soap_->frecv = &ResponseCapture::receive;
    }
}

ResponseCapture::~ResponseCapture()
{
    if (soap_ != nullptr) {
        soap_->frecv = previousRecv_;
        soap_->user = previousUser_;
    }
}

size_t ResponseCapture::receive(struct soap *soap, char *buf, size_t len)
{
    auto *self = static_cast<ResponseCapture *>(soap->user);
    size_t n = self->previousRecv_(soap, buf, len);
    if (n > 0 && self->bytes_.size() < self->limit_) {
        self->bytes_.append(buf, std::min(n, self->limit_ - self->bytes_.size()));
    }
    return n;
}

namespace
{

bool chunked(std::string_view head)
{
    std::string lower(head);
    for (char &c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    size_t field = lower.find("\ntransfer-encoding:");
    if (field == std::string::npos) {
        return false;
    }
    size_t end = lower.find('\n', field + 1);
    return lower.substr(field, end == std::string::npos ? end : end - field).find("chunked") !=
           std::string::npos;
}

// The chunks of body joined; what is there of a body cut short.
std::string unchunked(std::string_view body)
{
    std::string out;
    size_t at = 0;
    while (at < body.size()) {
        size_t lineEnd = body.find("\r\n", at);
        if (lineEnd == std::string_view::npos) {
            break;
        }
        size_t size = 0;
        size_t digit = at;
        for (; digit < lineEnd && std::isxdigit(static_cast<unsigned char>(body[digit])); ++digit) {
            char c = static_cast<char>(std::tolower(static_cast<unsigned char>(body[digit])));
            size = size * 16 + static_cast<size_t>(c <= '9' ? c - '0' : c - 'a' + 10);
            if (size > body.size()) {
                return out; // no chunk is longer than what was captured
            }
        }
        if (digit == at || size == 0) {
            break;
        }
        at = lineEnd + 2;
        out.append(body.substr(at, std::min(size, body.size() - at)));
        at += size + 2;
    }
    return out;
}

} // namespace

std::string answerBody(std::string_view captured)
{
    size_t start = captured.rfind("HTTP/1.");
    while (start != std::string_view::npos && start != 0 && captured[start - 1] != '\n') {
        start = start == 0 ? std::string_view::npos : captured.rfind("HTTP/1.", start - 1);
    }
    if (start == std::string_view::npos) {
        return std::string(captured);
    }
    std::string_view answer = captured.substr(start);
    size_t headEnd = answer.find("\r\n\r\n");
    if (headEnd == std::string_view::npos) {
        return std::string(captured);
    }
    std::string_view head = answer.substr(0, headEnd + 2);
    std::string_view body = answer.substr(headEnd + 4);
    return chunked(head) ? unchunked(body) : std::string(body);
}

} // namespace vek
