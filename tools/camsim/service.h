// The simulated event service: checks a parsed request (well-formed, authenticated, the
// interceptor) and dispatches it by path and operation to the event service, a subscription
// manager or a pull point (internal).
#pragma once

#include "auth.h"
#include "camsim.h"
#include "state.h"

#include <mutex>
#include <string>

namespace camsim::detail
{

inline constexpr const char *kEventServicePath = "/onvif/event_service";
inline constexpr const char *kSubscriptionPath = "/onvif/subscription/"; // + id
inline constexpr const char *kPullPointPath = "/onvif/pullpoint/";       // + id
inline constexpr const char *kSharedPullPointPath = "/onvif/services";   // id in a header

class EventService
{
  public:
    EventService(const Config &config, SimState &state) : config_(config), state_(state) {}

    // The port written into answered addresses.
    void setPort(int port) { port_ = port; }

    // The answer to a request whose path, contentType and rawBody are set; fills the rest of
    // the record except responseStatus.
    Reply handle(RecordedRequest &request);

    const Config &config() const { return config_; }
    // The nonce of the HTTP Digest challenge now (one for the whole run unless
    // Config::digestNonceUses says otherwise).
    std::string digestNonce() const;
    SimState &state() const { return state_; }
    std::string baseUrl() const; // with Config::advertisedHost

  private:
    Reply dispatch(RecordedRequest &request);
    // Whether the request answers the challenge now; marks an answer to a used-up nonce.
    bool checkDigest(RecordedRequest &request);

    const Config &config_;
    SimState &state_;
    int port_ = 0;
    mutable std::mutex digestMutex_;
    std::string digestNonce_ = makeServerNonce();
    std::string usedUpNonce_; // the one before digestNonce_
    int digestUses_ = 0;
};

} // namespace camsim::detail
