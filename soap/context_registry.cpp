// A set of addresses behind one lock. Contexts are made and destroyed once
// per request, so the lock is held for a hash lookup only.
#include "context_registry.h"

#include <mutex>
#include <unordered_set>

#include "vek_log.h"

namespace
{
std::mutex g_lock;

std::unordered_set<const struct soap *> &liveContexts()
{
    static std::unordered_set<const struct soap *> live;
    return live;
}
} // namespace

bool vek::registerContext(const struct soap *soap)
{
    std::lock_guard<std::mutex> guard(g_lock);
    auto &live = liveContexts();
    if (live.size() >= kMaxLiveContexts) {
        return false;
    }
    return live.insert(soap).second;
}

bool vek::unregisterContext(const struct soap *soap)
{
    std::lock_guard<std::mutex> guard(g_lock);
    return liveContexts().erase(soap) == 1;
}

bool vek::isLiveContext(const struct soap *soap)
{
    std::lock_guard<std::mutex> guard(g_lock);
    return liveContexts().count(soap) == 1;
}

bool vek::acceptCallerContext(const struct soap *soap, const char *func)
{
    if (soap == nullptr || isLiveContext(soap)) {
        return true;
    }
    VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, func, "Not a context of this library.");
    return false;
}
