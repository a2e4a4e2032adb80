#include "hub_feed.h"

#include <netdb.h>
#include <sys/socket.h>

#include <optional>

#include "endpoint.h"
#include "vek_platform.h"

namespace onvif_events
{

namespace
{
constexpr int32_t kPollMs = 100; // how soon the poller sees that the watch ends
}

HubFeed::~HubFeed()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    if (poller_.joinable()) {
        poller_.join();
    }
    VEK_Onvif_Hub_Destroy(&hub_);
}

Outcome HubFeed::open()
{
    Outcome outcome = outcomeOf(VEK_Onvif_Hub_Create(nullptr, 0, &hub_));
    if (outcome.ok()) {
        poller_ = std::thread([this] { pollLoop(); });
    }
    return outcome;
}

int HubFeed::port() const
{
    return VEK_Onvif_Hub_GetPort(hub_);
}

void HubFeed::expect(uint32_t cameraId)
{
    std::lock_guard<std::mutex> lock(mutex_);
    waiting_[cameraId];
}

std::vector<OnvifAlarmReport> HubFeed::take(uint32_t cameraId, std::chrono::milliseconds wait)
{
    std::unique_lock<std::mutex> lock(mutex_);
    std::deque<OnvifAlarmReport> &queue = waiting_[cameraId];
    arrived_.wait_for(lock, wait, [&queue] { return !queue.empty(); });
    std::vector<OnvifAlarmReport> reports(queue.begin(), queue.end());
    queue.clear();
    return reports;
}

void HubFeed::pollLoop()
{
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) {
                return;
            }
        }
        uint32_t count = 0;
        OnvifHubReport *reports = VEK_Onvif_Hub_Poll(hub_, kPollMs, &count);
        if (reports == nullptr) {
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (uint32_t i = 0; i < count; ++i) {
                auto queue = waiting_.find(reports[i].ulCameraId);
                if (queue != waiting_.end()) {
                    queue->second.push_back(reports[i].stReport);
                }
            }
        }
        arrived_.notify_all();
        void *block = reports;
        ZU_MEM_FreeEx(&block, "onvif-events", __LINE__);
    }
}

std::string numericEventUrl(const std::string &url)
{
    std::string why;
    std::optional<Endpoint> endpoint = parseEventUrl(url, &why);
    if (!endpoint) {
        return url;
    }
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo *found = nullptr;
    if (getaddrinfo(endpoint->host.c_str(), nullptr, &hints, &found) == 0) {
        freeaddrinfo(found);
        return url; // numeric already
    }
    hints.ai_flags = 0;
    if (getaddrinfo(endpoint->host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return url;
    }
    char address[NI_MAXHOST] = {};
    int named = getnameinfo(found->ai_addr, found->ai_addrlen, address, sizeof address, nullptr, 0,
                            NI_NUMERICHOST);
    bool v6 = found->ai_family == AF_INET6;
    freeaddrinfo(found);
    if (named != 0) {
        return url;
    }
    const std::string scheme = endpoint->secure ? "https://" : "http://";
    std::string host = v6 ? "[" + std::string(address) + "]" : std::string(address);
    return scheme + host + ":" + endpoint->port + endpoint->path;
}

} // namespace onvif_events
