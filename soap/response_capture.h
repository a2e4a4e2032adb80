// Keeps a bounded copy of the bytes a context receives during one exchange,
// for the rare answer whose meaning depends on text the bindings do not keep
// (such as a namespace declaration on an ancestor of a stored fragment).
#ifndef VEK_RESPONSE_CAPTURE_H
#define VEK_RESPONSE_CAPTURE_H

#include <string>
#include <string_view>

#include "stdsoap2.h"

namespace vek
{

class ResponseCapture
{
  public:
    // Captures at most limit bytes of what soap receives while this lives.
    explicit ResponseCapture(struct soap *soap, size_t limit = 64 * 1024);
    ~ResponseCapture();
    ResponseCapture(const ResponseCapture &) = delete;
    ResponseCapture &operator=(const ResponseCapture &) = delete;

    std::string_view text() const { return bytes_; }

  private:
    static size_t receive(struct soap *soap, char *buf, size_t len);

    struct soap *soap_;
    size_t limit_;
    std::string bytes_;
    size_t (*previousRecv_)(struct soap *, char *, size_t) = nullptr;
    void *previousUser_ = nullptr;
};

// The XML of the last HTTP answer in captured bytes (a refused first
// request leaves its answer before the one that counts): what follows its
// head, with a chunked transfer coding undone. The bytes as they are when
// they hold no HTTP head.
std::string answerBody(std::string_view captured);

} // namespace vek

#endif // VEK_RESPONSE_CAPTURE_H
