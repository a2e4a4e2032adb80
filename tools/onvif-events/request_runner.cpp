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

struct Outcome {
    std::mutex lock;
    std::condition_variable done;
    std::optional<uint32_t> result;
};

constexpr std::chrono::milliseconds kStep{100};
constexpr std::chrono::seconds kProgressEvery{2};

} // namespace

std::optional<uint32_t> runRequest(const std::function<uint32_t()> &request,
                                   const RequestWait &wait)
{
    auto outcome = std::make_shared<Outcome>();
    std::thread([outcome, request] {
        uint32_t result = request();
        std::lock_guard<std::mutex> guard(outcome->lock);
        outcome->result = result;
        outcome->done.notify_all();
    }).detach();

    auto started = Clock::now();
    auto nextProgress = started + kProgressEvery;
    std::unique_lock<std::mutex> guard(outcome->lock);
    for (;;) {
        if (outcome->done.wait_for(guard, kStep, [&] { return outcome->result.has_value(); })) {
            return outcome->result;
        }
        if (wait.interruptible && stopRequested()) {
            return std::nullopt;
        }
        auto now = Clock::now();
        if (now - started >= wait.limit) {
            return std::nullopt;
        }
        if (wait.progress != nullptr && now >= nextProgress) {
            auto waited = std::chrono::duration_cast<std::chrono::seconds>(now - started);
            std::fprintf(wait.progress, "waiting for the camera's answer to %s (%lld s)\n",
                         wait.what, static_cast<long long>(waited.count()));
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
