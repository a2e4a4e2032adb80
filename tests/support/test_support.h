// Test fixtures shared by every test executable: log capture through the
// platform's log sink, fixture files, and a one-shot loopback HTTP peer.
#ifndef VEK_TEST_SUPPORT_H
#define VEK_TEST_SUPPORT_H

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fixture_files.h"
#include "fixture_motion.h"
#include "log_capture.h"
#include "vek_onvif_event.h"
#include "vek_platform_ctl.h"

#if defined(__SANITIZE_ADDRESS__)
#define VEK_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VEK_TEST_ASAN 1
#endif
#endif

namespace vektest
{

// How much slower an instrumented build runs: time bounds of hostile-input tests catch a
// change in the order of growth, not the sanitizer's own cost (its realloc copies and maps
// every block anew, which makes Mini-XML's growth of a megabyte token take seconds).
#ifdef VEK_TEST_ASAN
constexpr double kSanitizerSlowdown = 4.0;
#else
constexpr double kSanitizerSlowdown = 1.0;
#endif

// The log capture is the tools' own (tools/log_capture), shared with onvif-events.
using veklog::LogCapture;
using veklog::LogLine;

// Fixture files and the motion configuration come from the fixtures library.
using vekfix::fixturePath;
using vekfix::MotionConfig;
using vekfix::readFixture;

// Number of open file descriptors of this process.
int openDescriptorCount();

// A loopback HTTP peer that accepts connections on 127.0.0.1, reads one
// request per connection and answers with a canned response.
class LoopbackPeer
{
  public:
    explicit LoopbackPeer(std::string responseBody, int status = 200);
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer &) = delete;
    LoopbackPeer &operator=(const LoopbackPeer &) = delete;

    uint16_t port() const { return port_; }
    std::string url(const std::string &path = "/onvif/event_service") const;
    // Requests received so far (HTTP head and body).
    std::vector<std::string> requests() const;
    // Body of the last request, or empty.
    std::string lastBody() const;

  private:
    void serve();
    std::string response_;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    mutable std::mutex lock_;
    std::vector<std::string> requests_;
    bool stopping_ = false;
};

// Text of the first element with this local name (prefix ignored) in xml,
// or empty. Good enough for asserting on request fields.
std::string elementText(const std::string &xml, const std::string &localName);
// Whole first element (start tag to end tag) with this local name.
std::string elementXml(const std::string &xml, const std::string &localName);

// A simple item with the given name and value (both cut to 31 characters).
OnvifSimpleItem item(const std::string &name, const std::string &value);
// A template item whose value carries an index counted from origin.
OnvifSimpleItem valueIndexed(const std::string &name, const std::string &value, int32_t origin);

// Calls VEK_Onvif_Recv_Notify on the listening socket until it served a
// connection or about three seconds passed.
OnvifAlarmReport *receiveNotify(int listenFd, OnvifAlarmCfg *cfg, OnvifAlarmInputList *inputs,
                                const char *url, uint32_t *count, uint32_t *connected);

} // namespace vektest

#endif // VEK_TEST_SUPPORT_H
