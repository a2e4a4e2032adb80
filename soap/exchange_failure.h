// Why an exchange failed, decided from what the frame saw: the bounds of
// the exchange, the runtime's error code, the HTTP status and the fault of
// the answer. Noted in the calling thread's error record.
#ifndef VEK_EXCHANGE_FAILURE_H
#define VEK_EXCHANGE_FAILURE_H

#include <string>
#include <string_view>

#include "exchange_bounds.h"
#include "stdsoap2.h"

namespace vek
{

void noteExchangeFailure(const struct soap *soap, const ExchangeBounds &bounds);

// A QName as the camera sent it: the runtime writes one whose namespace is
// not among the context's as "URI":name; the usual prefix of a known
// namespace is put back.
std::string receivedQName(std::string_view value);

// Whether the fault in soap's context names NotAuthorized as its code or
// as any of its subcodes.
bool faultNotAuthorized(const struct soap *soap);

} // namespace vek

#endif // VEK_EXCHANGE_FAILURE_H
