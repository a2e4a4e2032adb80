#include "response_capture.h"

#include <algorithm>

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

} // namespace vek
