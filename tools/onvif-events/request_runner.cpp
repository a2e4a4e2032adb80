#include "request_runner.h"

#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "commands.h"

namespace onvif_events
{

namespace
{

using Clock = std::chrono::steady_clock;

struct Handover {
    std::mutex lock;
    std::condition_variable done;
    std::optional<Outcome> result;
};

constexpr std::chrono::milliseconds kStep{100};
constexpr std::chrono::seconds kProgressEvery{2};

} // namespace

std::optional<Outcome> runRequest(const std::function<uint32_t()> &request, const RequestWait &wait)
{
    auto handover = std::make_shared<Handover>();
    std::thread worker([handover, request] {
        Outcome result = outcomeOf(request());
        std::lock_guard<std::mutex> guard(handover->lock);
        handover->result = result;
        handover->done.notify_all();
    });
    // A request that answered ends its thread before the program goes on:
    // a thread still ending while the program exits would release what the
    // library's TLS state keeps for it twice. One given up on is left to
    // run; the program then leaves without its exit handlers (leaveNow).
    auto finished = [&worker, &handover](std::unique_lock<std::mutex> &guard) {
        std::optional<Outcome> result = handover->result;
        guard.unlock();
        worker.join();
        return result;
    };
    auto givenUp = [&worker]() -> std::optional<Outcome> {
        worker.detach();
        return std::nullopt;
    };

    auto started = Clock::now();
    auto nextProgress = started + kProgressEvery;
    std::unique_lock<std::mutex> guard(handover->lock);
    for (;;) {
        if (handover->done.wait_for(guard, kStep, [&] { return handover->result.has_value(); })) {
            return finished(guard);
        }
        if (wait.interruptible && stopRequested()) {
            return givenUp();
        }
        auto now = Clock::now();
        if (now - started >= wait.limit) {
            return givenUp();
        }
        if (wait.progress != nullptr && now >= nextProgress) {
            auto waited = std::chrono::duration_cast<std::chrono::seconds>(now - started);
            std::fprintf(wait.progress, "%swaiting for the camera's answer to %s (%lld s)\n",
                         wait.prefix, wait.what, static_cast<long long>(waited.count()));
            std::fflush(wait.progress);
            nextProgress += kProgressEvery;
        }
    }
}

void leaveNow(int status)
{
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

} // namespace onvif_events
