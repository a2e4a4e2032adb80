// onvif-events watch: a real camera, driven as a recorder drives it, until Ctrl-C or the end of
// the duration.
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
    while (session.running() && session.step()) {
    }
    return session.finish();
}

} // namespace onvif_events
