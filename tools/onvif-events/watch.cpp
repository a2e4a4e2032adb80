// onvif-events watch: a real camera, driven as a recorder drives it, until Ctrl-C or the end of
// the duration.
#include <cstdio>
#include <exception>

#include "commands.h"
#include "watch_session.h"

namespace onvif_events
{

int runWatch(const WatchOptions &options)
{
    WatchSession session(options);
    if (int status = session.start(); status != kExitOk) {
        return status;
    }
    // An error that ends the watch still ends the subscription: the camera would otherwise go on
    // pushing to the port until the subscription runs out, and the next watch on that port would
    // report those events too.
    try {
        while (session.running() && session.step()) {
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "onvif-events watch: %s\n", e.what());
        session.finish();
        return kExitFailed;
    }
    return session.finish();
}

} // namespace onvif_events
