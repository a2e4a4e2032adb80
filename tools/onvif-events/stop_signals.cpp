// Ctrl-C and SIGTERM end the running loop of watch and sim.
#include <atomic>
#include <csignal>

#include "commands.h"

namespace onvif_events
{

namespace
{

std::atomic<bool> g_stop{false};

void onStopSignal(int)
{
    g_stop = true;
}

} // namespace

void installStopSignals()
{
    struct sigaction action {
    };
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool stopRequested()
{
    return g_stop;
}

} // namespace onvif_events
