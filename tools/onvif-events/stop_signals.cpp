// The ways out of watch and sim that a signal gives: Ctrl-C, SIGTERM (a service manager or kill)
// and SIGHUP (the terminal closed) end the running loop, so that watch still unsubscribes.
// SIGPIPE is ignored: a write to a closed pipe or socket fails with EPIPE instead of ending the
// process, whether it is the reader of the output that went away (`watch | head`, which watch
// takes as the end) or a camera that closed its connection early (the library's own failure).
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
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);
}

bool stopRequested()
{
    return g_stop;
}

} // namespace onvif_events
