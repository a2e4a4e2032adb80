// The simulated event service: checks a parsed request (well-formed, authenticated, the
// interceptor) and dispatches it by path and operation to the event service, a subscription
// manager or a pull point (internal).
#pragma once

#include "auth.h"
#include "camsim.h"
#include "state.h"

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
    // The nonce of every HTTP Digest challenge of this run.
    const std::string &digestNonce() const { return digestNonce_; }
    SimState &state() const { return state_; }
    std::string baseUrl() const; // with Config::advertisedHost

  private:
    Reply dispatch(RecordedRequest &request);

    const Config &config_;
    SimState &state_;
    int port_ = 0;
    const std::string digestNonce_ = makeServerNonce(); // of every challenge of this run
};

} // namespace camsim::detail
